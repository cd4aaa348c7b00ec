#!/bin/sh
# Every public header compiles on its own (included twice, for its guard), and
# all of them together in two opposite orders, as C99 and as C++20, with all
# warnings as errors.
set -eu
cc="$1"; cxx="$2"; include_dir="$3"
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT

compile() {
  "$cc" -std=c99 -Wall -Wextra -pedantic -Werror -I"$include_dir" -c "$1" -o "$work/c.o"
  cp "$1" "$work/check.cpp"
  "$cxx" -std=c++20 -Wall -Wextra -pedantic -Werror -I"$include_dir" -c "$work/check.cpp" \
    -o "$work/cpp.o"
}

names=""
for header in "$include_dir"/vexlo/*.h; do
  name="vexlo/$(basename "$header")"
  names="$names $name"
  printf '#include "%s"\n#include "%s"\nint vx_header_check;\n' "$name" "$name" > "$work/check.c"
  compile "$work/check.c"
done

# No header may need another before it or clash with one: between the two
# orders every pair of headers meets both ways round.
reversed=""
for name in $names; do reversed="$name $reversed"; done
for order in "$names" "$reversed"; do
  : > "$work/check.c"
  for name in $order; do printf '#include "%s"\n' "$name" >> "$work/check.c"; done
  printf 'int vx_header_check;\n' >> "$work/check.c"
  compile "$work/check.c"
done
echo "public headers compile alone and together, in either order, as C99 and C++20"
