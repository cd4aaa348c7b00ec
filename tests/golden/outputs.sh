#!/usr/bin/env bash
# Every command's output on the shipped sample and on generated traces,
# hashed and compared with outputs.sha256, which a build before a rework of
# vxtrace recorded: a rework must not change one byte of what users get.
#   outputs.sh VXTRACE SAMPLE WORK_DIR          compare
#   outputs.sh VXTRACE SAMPLE WORK_DIR --record  rewrite outputs.sha256
set -euo pipefail
vxtrace=$(realpath "$1")
sample=$2
work=$3
expected="$(cd "$(dirname "$0")" && pwd)/outputs.sha256"
rm -rf "$work" && mkdir -p "$work"
cp "$sample" "$work/sample.vxt"
cd "$work"

vx() { "$vxtrace" "$@" 2>/dev/null || true; }
faults=(--inject stall@+1s:300ms --inject lose@decoder:5 --inject silence@+2s:8
  --inject latency@reorder:3ms)
"$vxtrace" generate -o gen.vxt --events 30000 --seed 21 --no-progress "${faults[@]}" --manifest manifest.json
"$vxtrace" generate -o bench.vxt --events 8000 --seed 5 --mix bench --no-progress

# name, then the command whose standard output is hashed
runs=(
  "generated-trace|cat gen.vxt"
  "generated-manifest|cat manifest.json"
  "generated-bench|cat bench.vxt"
)
for input in sample.vxt gen.vxt "gen.vxt bench.vxt"; do
  for jobs in 1 2; do runs+=("dump-j$jobs $input|vx dump --no-progress -j $jobs $input"); done
  runs+=("dump-parts $input|vx dump --no-progress -j 2 --chunk-bytes 20000 $input")
  runs+=(
    "dump-window $input|vx dump --no-progress -j 1 --begin +100ms --end +900ms --session 1 --with-receiver $input"
    "dump-events $input|vx dump --no-progress --event /velocast/audio_* --limit 500 $input"
    "stats $input|vx stats --no-progress $input"
    "stats-json $input|vx stats --no-progress --json $input"
    "timeline-json $input|vx timeline --no-progress -q $input"
    "timeline-noargs $input|vx timeline --no-progress -q --no-args $input"
    "timeline-native $input|vx timeline --no-progress -q --format perfetto $input"
    "report-text $input|vx report --no-progress $input"
    "report-json $input|vx report --no-progress --json $input"
    "report-html $input|vx report --no-progress --html page.html -o /dev/null $input; cat page.html"
    "sqlite $input|rm -f db.sqlite; vx sqlite --no-progress -o db.sqlite $input; sqlite3 db.sqlite .dump | grep -v tool_version"
  )
done

actual=$(for run in "${runs[@]}"; do
  name=${run%%|*}
  printf '%s  %s\n' "$(eval "${run#*|}" | sha256sum | cut -d' ' -f1)" "$name"
done)
if [[ ${4:-} == --record ]]; then
  printf '%s\n' "$actual" > "$expected"
  exit 0
fi
if ! diff <(printf '%s\n' "$actual") "$expected"; then
  echo "outputs differ from the recorded ones (lines above: < now, > recorded)" >&2
  exit 1
fi
echo "${#runs[@]} outputs identical to the recorded ones"
