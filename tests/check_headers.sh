#!/bin/sh
# Every public header compiles on its own, as C99 and as C++20, with all
# warnings as errors.
set -eu
cc="$1"; cxx="$2"; include_dir="$3"
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
for header in "$include_dir"/vexlo/*.h; do
  name="vexlo/$(basename "$header")"
  printf '#include "%s"\n#include "%s"\nint vx_header_check;\n' "$name" "$name" > "$work/check.c"
  "$cc" -std=c99 -Wall -Wextra -pedantic -Werror -I"$include_dir" -c "$work/check.c" -o "$work/c.o"
  cp "$work/check.c" "$work/check.cpp"
  "$cxx" -std=c++20 -Wall -Wextra -pedantic -Werror -I"$include_dir" -c "$work/check.cpp" -o "$work/cpp.o"
done
echo "public headers compile alone as C99 and C++20"
