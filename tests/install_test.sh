#!/bin/sh
# cmake --install puts portvet, portvet-sim, their gzipped manual pages and
# the docs in place, and both manuals render without a warning.
#   install_test.sh BUILD_DIR
set -e
build=$1
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
cmake --install "$build" --prefix "$dest" >/dev/null
for f in bin/portvet bin/portvet-sim share/man/man1/portvet.1.gz \
         share/man/man1/portvet-sim.1.gz share/doc/portvet/README.md \
         share/doc/portvet/copyright share/doc/portvet/changelog.gz; do
  [ -f "$dest/$f" ] || { echo "missing after install: $f"; exit 1; }
done
"$dest/bin/portvet" | grep -q "^v1.2 " || { echo "installed portvet does not run"; exit 1; }
for page in portvet portvet-sim; do
  gzip -t "$dest/share/man/man1/$page.1.gz" || { echo "$page.1.gz is no gzip file"; exit 1; }
  if command -v groff >/dev/null 2>&1; then
    warnings=$(gzip -dc "$dest/share/man/man1/$page.1.gz" | groff -man -Tutf8 -ww -z 2>&1)
    [ -z "$warnings" ] || { echo "$page.1: $warnings"; exit 1; }
  fi
done
gzip -dc "$dest/share/man/man1/portvet.1.gz" | grep -q '@PROJECT_VERSION@' && {
  echo "version not filled in"; exit 1; }
# Every knob the simulator takes is in its manual.
for knob in $("$dest/bin/portvet-sim" --help | sed -n 's/^  --\([a-z-]*\).*/\1/p'); do
  gzip -dc "$dest/share/man/man1/portvet-sim.1.gz" | grep -q -- "\\\\-\\\\-$(echo "$knob" | sed 's/-/\\\\-/g')" ||
    { echo "portvet-sim.1 lacks --$knob"; exit 1; }
done
echo "installed and both manuals render"
