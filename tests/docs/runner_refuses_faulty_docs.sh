#!/usr/bin/env bash
# The docs test on pages with known faults (faulty/): it must fail, name
# exactly the faulty blocks (faulty/expected_errors.txt), and pass the rest.
#
#   runner_refuses_faulty_docs.sh PYTHON3 SOURCE_DIR BIN_DIR
set -euo pipefail
python=$1; source_dir=$2; bin_dir=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
mkdir -p "$work/pages/examples"
cp -r "$here/faulty/." "$work/pages/"
rm "$work/pages/expected_errors.txt"
cp "$source_dir/examples/sample.vxt" "$work/pages/examples/"

status=0
"$python" "$here/run_doc_blocks.py" "$work/pages" "$bin_dir" "$work/run" \
  >"$work/out" 2>"$work/err" || status=$?
if [ "$status" != 1 ]; then
  cat "$work/out" "$work/err"
  echo "FAIL: status $status, 1 expected" >&2
  exit 1
fi
actual=$( (grep '^ERROR' "$work/err" | LC_ALL=C sort; tail -n 1 "$work/out") )
if ! diff <(echo "$actual") <(LC_ALL=C sort "$here/faulty/expected_errors.txt" | grep '^ERROR'; grep -v '^ERROR' "$here/faulty/expected_errors.txt"); then
  echo "FAIL: the errors differ from faulty/expected_errors.txt (< now, > expected)" >&2
  exit 1
fi
echo "every faulty block refused, every sound one passed"
