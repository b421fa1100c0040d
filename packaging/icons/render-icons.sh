#!/usr/bin/env bash
# Renders the PNG sizes of the application icon from tarnwick.svg: the hicolor theme's
# sizes here and the 64 px window icon in the viewer's resources. The PNGs are committed,
# so that a build needs no SVG renderer; run this (librsvg2-bin) after changing the SVG.
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "${size}x${size}"
  rsvg-convert --width "$size" --height "$size" tarnwick.svg --output "${size}x${size}/tarnwick.png"
done
cp 64x64/tarnwick.png ../../app/viewer/resources/tarnwick.png
