#!/usr/bin/env bash
# vxtrace's own threads under ThreadSanitizer: dump of one input cut into
# parts, and of several inputs on a thread each, with and without --limit and
# a selection. Each must give the bytes of one thread, and any race ends the
# run (halt_on_error).
#   vxtrace_threads_under_tsan.sh VXTRACE WORK_DIR
set -euo pipefail
vxtrace=$1
work=$2
rm -rf "$work" && mkdir -p "$work"
cd "$work"
"$vxtrace" generate -o a.vxt --events 20000 --seed 3 --no-progress
"$vxtrace" generate -o b.vxt --events 15000 --seed 4 --no-progress
runs=(
  "a.vxt --chunk-bytes 20000"
  "a.vxt b.vxt"
  "a.vxt b.vxt --limit 7000"
  "a.vxt b.vxt --begin +20ms --event /velocast/audio_*"
)
for args in "${runs[@]}"; do
  # shellcheck disable=SC2086
  "$vxtrace" dump --no-progress --jobs 1 $args > one.jsonl
  # shellcheck disable=SC2086
  "$vxtrace" dump --no-progress --jobs 2 $args > two.jsonl
  cmp one.jsonl two.jsonl || { echo "--jobs 2 differs from --jobs 1: $args" >&2; exit 1; }
done
echo "dump's threads: no race, the same bytes as one thread"
