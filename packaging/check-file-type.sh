#!/usr/bin/env bash
# Checks that a desktop tells a SQL Server backup by its content: the file type
# definition is compiled together with the system's own types into a private mime
# database, and GIO (what file managers ask) names the type of files whose content and
# name agree or disagree.
#   check-file-type.sh tarnwick-mime.xml BACKUP
set -euo pipefail
definition=$1
backup=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/data/mime/packages" "$work/files"
cp /usr/share/mime/packages/freedesktop.org.xml "$definition" "$work/data/mime/packages/"
XDG_DATA_HOME="$work/data" XDG_DATA_DIRS="$work/data" update-mime-database "$work/data/mime"

cp "$backup" "$work/files/x.dat"
cp "$backup" "$work/files/full.bak"
cp "$backup" "$work/files/log.trn"
cp "$backup" "$work/files/noextension"
printf 'a text editor kept this copy\n' > "$work/files/notes.bak"
# A packet capture: the little-endian pcap magic and the rest of its file header.
printf '\xd4\xc3\xb2\xa1\x02\x00\x04\x00\x00\x00\x00\x00\x00\x00\x00\x00\xff\xff\x00\x00\x01\x00\x00\x00' \
  > "$work/files/capture.dmp"
printf 'TAPE 1 went to the off-site store\n' > "$work/files/inventory.txt"

failures=0
expect() {
  local file=$1 wanted=$2 got
  got=$(XDG_DATA_HOME="$work/data" XDG_DATA_DIRS="$work/data" gio info -a standard::content-type "$work/files/$file" |
        sed -n 's/^ *standard::content-type: //p')
  if [ "$got" = "$wanted" ]; then
    echo "ok   $file: $got"
  else
    echo "FAIL $file: $got, expected $wanted"
    failures=$((failures + 1))
  fi
}
expect x.dat application/x-mssql-backup
expect full.bak application/x-mssql-backup
expect log.trn application/x-mssql-backup
expect noextension application/x-mssql-backup
expect notes.bak application/x-trash
expect capture.dmp application/vnd.tcpdump.pcap
expect inventory.txt text/plain
[ "$failures" -eq 0 ]
