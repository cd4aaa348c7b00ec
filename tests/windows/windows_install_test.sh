#!/bin/sh
# Installs the Windows build into a temporary prefix and uses it as a Windows
# consumer would: checks the layout (DLLs in bin/, import libraries in lib/,
# the headers, the CMake package and the pkg-config files), that the trace
# file DLL exports exactly the functions of its header, builds the C example
# against the prefix through find_package and through pkg-config, and runs the
# first under Wine on the shipped sample.
#
#   windows_install_test.sh CMAKE BUILD_DIR SOURCE_DIR TOOLCHAIN_FILE CC OBJDUMP EMULATOR...
set -eu
cmake="$1"; build_dir="$2"; source_dir="$3"; toolchain="$4"; cc="$5"; objdump="$6"
shift 6
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
. "$(dirname "$0")/../support/script_steps.sh"

install_build "$cmake" "$build_dir" "$prefix"

step "installed files"
for file in bin/velocast_receiver_trace_consume_buffer.dll bin/vexlo_velocast_trace_file.dll \
  lib/libvelocast_receiver_trace_consume_buffer.dll.a lib/libvexlo_velocast_trace_file.dll.a \
  lib/cmake/vexlo_velocast/vexlo_velocast-config.cmake lib/pkgconfig/vexlo_velocast.pc \
  lib/pkgconfig/vexlo_velocast_trace_file.pc; do
  [ -f "$prefix/$file" ] || fail "$file not installed"
done
for header in "$source_dir"/include/vexlo/*.h "$source_dir"/include/vexlo/payloads/*.def; do
  relative=${header#"$source_dir/include/"}
  cmp -s "$header" "$prefix/include/$relative" || fail "$relative not installed as it is"
done
leaked=$(find "$prefix" -name '*testing*' -o -name '*gtest*' -o -name '*gmock*' -o -name '*.exe')
[ -z "$leaked" ] || fail "test-only files installed: $leaked"

step "the trace file DLL exports exactly the functions of vxtrace_file.h"
declared=$(grep -o '\bvxt_[a-z_]*(' "$prefix/include/vexlo/vxtrace_file.h" | tr -d '(' |
  LC_ALL=C sort -u)
exported=$("$objdump" -p "$prefix/bin/vexlo_velocast_trace_file.dll" |
  sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *[0-9]*\] //p' | LC_ALL=C sort -u)
[ "$declared" = "$exported" ] || {
  printf 'declared:\n%s\nexported:\n%s\n' "$declared" "$exported"
  fail "the trace file DLL's exports differ from its header"
}

step "consumer through find_package"
"$cmake" -S "$source_dir/examples/consumer-build" -B "$work/cmake-build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_FIND_ROOT_PATH="$prefix" -DCMAKE_C_FLAGS="-Wall -Wextra -pedantic -Werror" \
  -DCMAKE_EXE_LINKER_FLAGS=-static >"$work/cmake.log" 2>&1 ||
  { cat "$work/cmake.log"; fail "configuring the consumer"; }
"$cmake" --build "$work/cmake-build" >"$work/build.log" 2>&1 ||
  { cat "$work/build.log"; fail "building the consumer"; }

step "consumer through pkg-config"
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig" PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig"
[ "$(pkg-config --modversion vexlo_velocast_trace_file)" = "1.0.0" ] || fail "pkg-config version"
# shellcheck disable=SC2046 # the flags are lists of words
"$cc" -std=c99 -Wall -Wextra -pedantic -Werror -static-libgcc "$source_dir/examples/consumer.c" \
  -o "$work/consumer-pc.exe" $(pkg-config --cflags --libs vexlo_velocast_trace_file) ||
  fail "building the consumer through pkg-config"

step "the installed consumer prints the recorded payloads"
cp "$prefix"/bin/*.dll "$work/cmake-build/"
"$source_dir/tests/consumer_output_test.sh" "$work/output" "$source_dir/examples/sample.vxt" \
  -- "$@" "$work/cmake-build/consumer.exe" "$source_dir/examples/sample.vxt"
echo "installed Windows tree works for find_package and pkg-config consumers"
