#!/usr/bin/env bash
# Builds the Debian package: a release build of the programs without the tests and the
# benchmarks (preset "package", installed under /usr), then CPack. The package lands in
# build/package/tarnwick_<version>-<revision>_amd64.deb.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset package >/dev/null
cmake --build --preset package
rm -f build/package/tarnwick_*.deb
(cd build/package && cpack -G DEB)
ls build/package/tarnwick_*.deb
