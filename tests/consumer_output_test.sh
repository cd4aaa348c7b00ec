#!/bin/sh
# The C example (examples/consumer.c) on the shipped sample prints, byte for
# byte, the payload objects of `vxtrace dump` on Linux: its output's SHA-256 is
# the one recorded in consumer_sample.sha256 on every system it is built for.
# Where vxtrace is built (Linux), the output is also compared with the
# payloads cut out of vxtrace dump's lines, which is how the hash was recorded.
#
#   consumer_output_test.sh WORK_DIR SAMPLE [--vxtrace VXTRACE] -- COMMAND...
#
# COMMAND runs the consumer on SAMPLE (through an emulator, for a cross
# build).
set -eu
work="$1"; sample="$2"; shift 2
vxtrace=""
if [ "$1" = "--vxtrace" ]; then vxtrace="$2"; shift 2; fi
[ "$1" = "--" ] && shift
. "$(dirname "$0")/support/script_steps.sh"
mkdir -p "$work"

"$@" >"$work/consumer.jsonl" 2>"$work/consumer.err" ||
  { cat "$work/consumer.err" >&2; fail "the consumer failed"; }

if [ -n "$vxtrace" ]; then
  "$vxtrace" dump "$sample" --quiet --no-progress >"$work/dump.jsonl"
  sed -n 's/^{"timestamp": [0-9]*, "id": [0-9]*, "event": "[^"]*", "payload": \(.*\)}$/\1/p' \
    "$work/dump.jsonl" >"$work/dump-payloads.jsonl"
  [ "$(wc -l <"$work/dump-payloads.jsonl")" = "$(wc -l <"$work/dump.jsonl")" ] ||
    fail "a line of vxtrace dump has no payload object"
  cmp "$work/dump-payloads.jsonl" "$work/consumer.jsonl" ||
    fail "the consumer's lines differ from vxtrace dump's payloads"
fi

expected=$(cut -d' ' -f1 "$(dirname "$0")/consumer_sample.sha256")
actual=$(sha256sum "$work/consumer.jsonl" | cut -d' ' -f1)
[ "$actual" = "$expected" ] ||
  fail "the consumer's output ($actual) is not the recorded one ($expected); see $work"
echo "$(wc -l <"$work/consumer.jsonl") lines, byte for byte those of vxtrace dump"
