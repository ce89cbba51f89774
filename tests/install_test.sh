#!/bin/sh
# cmake --install puts portvet, portvet-sim and the manual in place, and the
# manual renders without a warning.
#   install_test.sh BUILD_DIR
set -e
build=$1
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
cmake --install "$build" --prefix "$dest" >/dev/null
for f in bin/portvet bin/portvet-sim share/man/man1/portvet.1 \
         share/doc/portvet/README.md; do
  [ -f "$dest/$f" ] || { echo "missing after install: $f"; exit 1; }
done
"$dest/bin/portvet" | grep -q "^v1.2 " || { echo "installed portvet does not run"; exit 1; }
if command -v groff >/dev/null 2>&1; then
  warnings=$(groff -man -Tutf8 -ww -z "$dest/share/man/man1/portvet.1" 2>&1)
  [ -z "$warnings" ] || { echo "$warnings"; exit 1; }
fi
grep -q '@PROJECT_VERSION@' "$dest/share/man/man1/portvet.1" && {
  echo "version not filled in"; exit 1; }
echo "installed and manual renders"
