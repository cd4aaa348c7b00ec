#!/bin/sh
# Fails unless the plug-in exports exactly the functions of its public
# interface (and nothing else of ours).
set -eu
library="$1"
expected="vexlo_register_events
vx_buffer_iterator_create
vx_buffer_iterator_get_raw_data
vx_buffer_iterator_register_event
vx_do_log
vx_get_logger
vx_get_timestamp
vx_id_map_cleanup
vx_id_map_clear
vx_id_map_init
vx_id_map_read
vx_id_map_write
vx_log_severity_name
vx_set_logger
vx_sleep_ms"
actual=$(nm -D --defined-only "$library" | awk '$2 ~ /^[TtWwDdBbRrVv]$/ {print $3}' | sed 's/@.*//' | LC_ALL=C sort)
if [ "$actual" != "$expected" ]; then
  echo "exported symbols differ from the public interface:"
  printf '%s\n' "$expected" > /tmp/vx_expected_exports.$$
  printf '%s\n' "$actual" | diff /tmp/vx_expected_exports.$$ - || true
  rm -f /tmp/vx_expected_exports.$$
  exit 1
fi
echo "15 exported functions, as expected"
