#!/bin/sh
# Fails unless the plug-in DLL exports exactly the functions of its public
# interface (tests/plugin_exports.txt, the list the Linux check uses), takes
# its clock and sleep from the kernel's own calls, and needs no DLL but the
# system's (no mingw runtime beside it).
#
#   check_dll_tables.sh OBJDUMP PLUGIN_DLL
set -eu
objdump="$1"; dll="$2"
tables=$("$objdump" -p "$dll")
. "$(dirname "$0")/../support/script_steps.sh"

expected=$(LC_ALL=C sort "$(dirname "$0")/../plugin_exports.txt")
# The names under "[Ordinal/Name Pointer] Table", up to the blank line after.
exported=$(printf '%s\n' "$tables" |
  sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *[0-9]*\] //p' | LC_ALL=C sort)
if [ "$exported" != "$expected" ]; then
  printf 'expected:\n%s\nexported:\n%s\n' "$expected" "$exported"
  fail "the DLL's export table differs from the public interface"
fi

# The functions imported from a DLL: objdump lists them under the "DLL Name:"
# line of their DLL, one "address hint name" a line.
imports_from() {
  printf '%s\n' "$tables" | awk -v dll="$1" '
    /DLL Name:/ { current = toupper($3) }
    current == toupper(dll) && NF == 3 && $1 ~ /^[0-9a-f]+$/ { print $3 }'
}
kernel=$(imports_from KERNEL32.dll)
for call in QueryPerformanceFrequency QueryPerformanceCounter SystemTimeToFileTime \
  GetSystemTimeAsFileTime Sleep; do
  printf '%s\n' "$kernel" | grep -qx "$call" || fail "$call is not imported from KERNEL32.dll"
done
for unwanted in clock_gettime nanosleep; do
  printf '%s\n' "$tables" | grep -qw "$unwanted" && fail "$unwanted is imported"
done

dlls=$(printf '%s\n' "$tables" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort -u)
for name in $dlls; do
  case "$(printf '%s' "$name" | tr '[:upper:]' '[:lower:]')" in
    kernel32.dll | msvcrt.dll | api-ms-win-*.dll) ;;
    *) fail "the DLL needs $name, which Windows does not ship" ;;
  esac
done
echo "15 exported functions; the clock and Sleep from KERNEL32.dll; needs only $(echo $dlls)"
