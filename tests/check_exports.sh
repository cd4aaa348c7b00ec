#!/bin/sh
# Fails unless the plug-in exports exactly the functions of its public
# interface (and nothing else of ours), as listed in plugin_exports.txt.
set -eu
library="$1"
expected=$(LC_ALL=C sort "$(dirname "$0")/plugin_exports.txt")
actual=$(nm -D --defined-only "$library" | awk '$2 ~ /^[TtWwDdBbRrVv]$/ {print $3}' | sed 's/@.*//' | LC_ALL=C sort)
if [ "$actual" != "$expected" ]; then
  echo "exported symbols differ from the public interface:"
  printf '%s\n' "$expected" > /tmp/vx_expected_exports.$$
  printf '%s\n' "$actual" | diff /tmp/vx_expected_exports.$$ - || true
  rm -f /tmp/vx_expected_exports.$$
  exit 1
fi
echo "15 exported functions, as expected"
