#!/bin/sh
# The .deb that cpack makes passes lintian without a tag.
#   package_test.sh BUILD_DIR
set -e
build=$1
command -v lintian >/dev/null 2>&1 || { echo "SKIPPED: lintian is not installed"; exit 77; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
cpack --config "$build/CPackConfig.cmake" -B "$out" >/dev/null
deb=$(ls "$out"/*.deb)
# Root is what CI runs as; lintian only warns about it.
tags=$(lintian --tag-display-limit 0 "$deb" 2>&1 | grep -v 'running with root privileges' || true)
[ -z "$tags" ] || { echo "$tags"; exit 1; }
echo "lintian: $(basename "$deb") is clean"
