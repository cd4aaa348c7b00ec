#!/bin/sh
# Installs the build into a temporary prefix and uses it as a consumer would:
# checks the installed files, builds examples/consumer.c against the prefix
# through find_package and through pkg-config, runs both on a trace written by
# the installed vxtrace and compares their output with `vxtrace dump`, payload
# object for payload object.
#
#   package_install_test.sh CMAKE BUILD_DIR SOURCE_DIR LIBDIR CC CXX PAYLOAD_COMPARE [SANITIZERS]
set -eu
cmake="$1"; build_dir="$2"; source_dir="$3"; libdir="$4"; cc="$5"; cxx="$6"; compare="$7"
sanitizers="${8:-}"
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
plugin_name=libvelocast_receiver_trace_consume_buffer
trace_file_name=libvexlo_velocast_trace_file
warnings="-Wall -Wextra -pedantic -Werror"
# With sanitizers the installed libraries need their runtime in the consumer.
flags=""
[ -n "$sanitizers" ] && flags="-fsanitize=$sanitizers -fno-omit-frame-pointer"

. "$(dirname "$0")/support/script_steps.sh"

install_build "$cmake" "$build_dir" "$prefix"

step "installed files"
for library in "$plugin_name" "$trace_file_name"; do
  [ -f "$prefix/$libdir/$library.so.1.0.0" ] || fail "$library.so.1.0.0 not installed"
  [ "$(readlink "$prefix/$libdir/$library.so.1")" = "$library.so.1.0.0" ] ||
    fail "$library.so.1 does not point at $library.so.1.0.0"
  [ "$(readlink "$prefix/$libdir/$library.so")" = "$library.so.1" ] ||
    fail "$library.so does not point at $library.so.1"
  readelf -d "$prefix/$libdir/$library.so.1.0.0" | grep -q "Library soname: \[$library.so.1\]" ||
    fail "$library has no SONAME $library.so.1"
done
[ -x "$prefix/bin/vxtrace" ] || fail "vxtrace not installed"
for header in "$source_dir"/include/vexlo/*.h "$source_dir"/include/vexlo/payloads/*.def; do
  relative=${header#"$source_dir/include/"}
  cmp -s "$header" "$prefix/include/$relative" || fail "$relative not installed as it is"
done
[ -f "$prefix/$libdir/cmake/vexlo_velocast/vexlo_velocast-config.cmake" ] ||
  fail "CMake package not installed"
leaked=$(find "$prefix" -name '*testing*' -o -name '*.a' -o -name 'vx_tests')
[ -z "$leaked" ] || fail "test-only files installed: $leaked"

step "the trace file library exports exactly the functions of vxtrace_file.h"
declared=$(grep -o '\bvxt_[a-z_]*(' "$prefix/include/vexlo/vxtrace_file.h" | tr -d '(' |
  LC_ALL=C sort -u)
exported=$(nm -D --defined-only "$prefix/$libdir/$trace_file_name.so.1" |
  awk '$2 ~ /^[TtWwDdBbRrVv]$/ {print $3}' | sed 's/@.*//' | LC_ALL=C sort -u)
[ "$declared" = "$exported" ] || {
  printf 'declared:\n%s\nexported:\n%s\n' "$declared" "$exported"
  fail "the trace file library's exports differ from its header"
}

step "installed headers compile alone and together, as C99 and C++20"
"$source_dir/tests/check_headers.sh" "$cc" "$cxx" "$prefix/include"

step "consumer through find_package"
"$cmake" -S "$source_dir/examples/consumer-build" -B "$work/cmake-build" -G Ninja \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_COMPILER="$cc" \
  -DCMAKE_C_FLAGS="$warnings $flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" \
  >"$work/cmake.log" 2>&1 || { cat "$work/cmake.log"; fail "configuring the consumer"; }
"$cmake" --build "$work/cmake-build" >"$work/build.log" 2>&1 ||
  { cat "$work/build.log"; fail "building the consumer"; }

step "consumer through pkg-config"
export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
[ "$(pkg-config --modversion vexlo_velocast)" = "1.0.0" ] || fail "vexlo_velocast.pc version"
# shellcheck disable=SC2046,SC2086 # flags are lists of words
"$cc" -std=c99 $warnings $flags "$source_dir/examples/consumer.c" -o "$work/consumer-pc" \
  $(pkg-config --cflags --libs vexlo_velocast_trace_file) -ldl

step "linking the plug-in directly, through find_package and through pkg-config"
mkdir "$work/direct"
cat >"$work/direct/direct.c" <<'EOF'
#include <stdio.h>
#include <string.h>
#include <vexlo/vexlo.h>
int main(void) { return strcmp(vx_log_severity_name(3), "error") == 0 ? 0 : 1; }
EOF
cat >"$work/direct/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.25)
project(direct LANGUAGES C)
find_package(vexlo_velocast 1.0 REQUIRED COMPONENTS plugin)
add_executable(direct direct.c)
target_link_libraries(direct PRIVATE vexlo_velocast::plugin)
EOF
"$cmake" -S "$work/direct" -B "$work/direct/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$warnings $flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$flags" >"$work/direct.log" 2>&1 &&
  "$cmake" --build "$work/direct/build" >>"$work/direct.log" 2>&1 ||
  { cat "$work/direct.log"; fail "linking the plug-in through find_package"; }
"$work/direct/build/direct" || fail "directly linked program (find_package)"
# shellcheck disable=SC2046,SC2086
"$cc" -std=c99 $warnings $flags "$work/direct/direct.c" -o "$work/direct/direct-pc" \
  $(pkg-config --cflags --libs vexlo_velocast)
LD_LIBRARY_PATH="$prefix/$libdir" "$work/direct/direct-pc" ||
  fail "directly linked program (pkg-config)"

step "both consumers print what vxtrace dump prints"
"$prefix/bin/vxtrace" generate -o "$work/trace.vxt" --events 5000 --seed 11 --no-progress
# The installed vxtrace finds the installed plug-in on its own.
"$prefix/bin/vxtrace" dump "$work/trace.vxt" --quiet --no-progress >"$work/dump.jsonl"
"$work/cmake-build/consumer" "$work/trace.vxt" "$prefix/$libdir/$plugin_name.so.1" \
  >"$work/consumer.jsonl" 2>"$work/consumer.err" ||
  { cat "$work/consumer.err"; fail "consumer (find_package) failed"; }
"$compare" "$work/dump.jsonl" "$work/consumer.jsonl" 1000
# Without a path the consumer asks the loader for the plug-in's SONAME.
LD_LIBRARY_PATH="$prefix/$libdir" "$work/consumer-pc" "$work/trace.vxt" \
  >"$work/consumer-pc.jsonl" 2>"$work/consumer-pc.err" ||
  { cat "$work/consumer-pc.err"; fail "consumer (pkg-config) failed"; }
"$compare" "$work/dump.jsonl" "$work/consumer-pc.jsonl" 1000

step "the consumer reports a damaged trace"
# Without its last byte the last record is cut short.
size=$(wc -c <"$work/trace.vxt")
head -c $((size - 1)) "$work/trace.vxt" >"$work/truncated.vxt"
if "$work/cmake-build/consumer" "$work/truncated.vxt" "$prefix/$libdir/$plugin_name.so.1" \
  >/dev/null 2>"$work/truncated.err"; then
  fail "the consumer succeeded on a truncated trace"
fi
grep -q "truncated.vxt" "$work/truncated.err" || fail "no message for the truncated trace"
echo "installed package works for find_package and pkg-config consumers"
