#!/bin/bash
# Installs the build into a temporary prefix and uses the man pages and the
# completion scripts as a user's man, bash and zsh would: every page renders
# and names every option that the command's --help names, and completing in
# bash offers every command and every option of the command being typed.
#
#   man_and_completion_install_test.sh CMAKE BUILD_DIR VXTRACE
set -euo pipefail
cmake="$1"; build_dir="$2"; vxtrace="$3"
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
man_dir="$prefix/share/man/man1"
bash_script="$prefix/share/bash-completion/completions/vxtrace"
zsh_script="$prefix/share/zsh/site-functions/_vxtrace"

. "$(dirname "$0")/support/script_steps.sh"

install_build "$cmake" "$build_dir" "$prefix"

# The commands as vxtrace names them when it is given an unknown one.
commands=$({ "$vxtrace" no-such-command 2>&1 || true; } | sed -n 's/.*the commands are \(.*\) (see --help)/\1/p' |
  sed 's/, / /g; s/ and / /')
[ -n "$commands" ] || fail "cannot read the command names from vxtrace"

# The long options that a help text lists (not those its descriptions
# mention), one a line.
options_in() { grep -E '^ +-' | awk '{print $1}' | tr ',' '\n' | grep -- '^--' | LC_ALL=C sort -u; }

render() {
  if command -v man >/dev/null; then
    MANWIDTH=80 man -l "$1" 2>"$work/render.err" | col -b
  elif command -v groff >/dev/null; then
    groff -man -Tutf8 "$1" 2>"$work/render.err" | col -b
  else
    fail "neither man nor groff is installed (the package man-db has both)"
  fi
}

step "man pages: vxtrace(1) and one per command, each naming its --help's options"
render "$man_dir/vxtrace.1" >"$work/vxtrace.txt" || fail "vxtrace.1 does not render"
for command in $commands; do
  grep -q "vxtrace-$command" "$work/vxtrace.txt" || fail "vxtrace(1) does not name $command"
  page="$man_dir/vxtrace-$command.1"
  [ -f "$page" ] || fail "vxtrace-$command.1 not installed"
  render "$page" >"$work/$command.txt" || fail "vxtrace-$command.1 does not render"
  [ ! -s "$work/render.err" ] || { cat "$work/render.err"; fail "vxtrace-$command.1 warns"; }
  grep -q "^NAME" "$work/$command.txt" || fail "vxtrace-$command.1 has no NAME"
  grep -q "^OPTIONS" "$work/$command.txt" || fail "vxtrace-$command.1 has no OPTIONS"
  for option in $("$vxtrace" "$command" --help | options_in); do
    grep -q -- "$option" "$work/$command.txt" || fail "vxtrace-$command(1) lacks $option"
  done
done
grep -q -- "--version" "$work/vxtrace.txt" || fail "vxtrace(1) lacks --version"

step "bash: the installed script completes commands and each command's options"
# Prints what completing the words offers, one a line; the last word is the
# one being typed.
complete_words() {
  bash --norc --noprofile -c '
    source "$1" || exit 1
    function=$(complete -p vxtrace | sed -n "s/.*-F \([^ ]*\) .*/\1/p")
    [ -n "$function" ] || exit 1
    shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    "$function" vxtrace "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf "%s\n" "${COMPREPLY[@]}"
  ' complete_words "$bash_script" "$@"
}
offers() {  # offers WORD WORDS...: completing WORDS offers WORD
  local word="$1"; shift
  complete_words "$@" >"$work/offered" || fail "completing '$*' failed"
  grep -qx -- "$word" "$work/offered" ||
    { cat "$work/offered"; fail "completing '$*' does not offer $word"; }
}
[ -f "$bash_script" ] || fail "bash completion not installed"
bash --norc --noprofile -c 'source "$1" && complete -p vxtrace' _ "$bash_script" ||
  fail "the bash script does not register a completion for vxtrace"
offers dump vxtrace d
offers --begin vxtrace dump --be
offers --version vxtrace --ver
offers report vxtrace help re
for command in $commands; do
  offers "$command" vxtrace ""
  for option in $("$vxtrace" "$command" --help | options_in); do
    offers "$option" vxtrace "$command" --
  done
done
# After an option that takes a value, a command's name is no command.
complete_words vxtrace dump --begin "" >"$work/offered"
! grep -qx -- "--end" "$work/offered" || fail "the value of --begin completes as an option"

step "zsh"
[ -f "$zsh_script" ] || fail "zsh completion not installed"
head -n 1 "$zsh_script" | grep -qx '#compdef vxtrace' || fail "_vxtrace does not start with #compdef"
if command -v zsh >/dev/null; then
  zsh -n "$zsh_script" || fail "_vxtrace is not valid zsh"
else
  echo "zsh is not installed: the syntax of _vxtrace is not checked"
fi
echo "PASS"
