#!/usr/bin/env bash
# Exports a trace with `vxtrace timeline` and has headless Chromium check the
# result with check_trace.html: the browser's JSON parser must read it, the
# viewers' import rules must hold, and every data record must be there.
# Usage: run_in_chromium.sh VXTRACE TRACE.vxt
# Exits 77 (skipped) when Chromium is not installed.
set -euo pipefail
vxtrace=$1
trace=$2
chromium=${CHROMIUM:-/usr/bin/chromium}
page="$(cd "$(dirname "$0")" && pwd)/check_trace.html"

if [[ ! -x $chromium ]]; then
  echo "skipped: $chromium is not installed"
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$vxtrace" timeline --quiet --no-progress "$trace" -o "$work/timeline.json"
records=$("$vxtrace" dump --quiet --no-progress "$trace" | wc -l)

# No network exists here, and the browser must not look for one.
HOME=$work XDG_CONFIG_HOME=$work XDG_CACHE_HOME=$work timeout 120 "$chromium" \
  --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
  --disable-background-networking --disable-component-update --disable-sync \
  --user-data-dir="$work/profile" --allow-file-access-from-files \
  --virtual-time-budget=10000 --dump-dom \
  "file://$page?trace=file://$work/timeline.json" >"$work/dom.html" 2>"$work/chromium.log" || {
  echo "chromium failed:"
  tail -20 "$work/chromium.log"
  exit 1
}

verdict=$(grep -o '<pre id="verdict">[^<]*' "$work/dom.html" | sed 's/^[^>]*>//' || true)
echo "$verdict"
[[ $verdict == TIMELINE-OK* ]] || exit 1
if [[ $verdict != *" instants=$records "* ]]; then
  echo "expected $records instant events, one per data record"
  exit 1
fi
