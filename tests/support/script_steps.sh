# What the test scripts share: how they fail, how they name a step, and how
# they install the build into a prefix of their own. Sourced, not run.

fail() { echo "FAIL: $*" >&2; exit 1; }
step() { echo "== $*"; }

# install_build CMAKE BUILD_DIR PREFIX: the install's log is shown only when
# it fails.
install_build() {
  step "install into $3"
  local log
  log=$(mktemp)
  "$1" --install "$2" --prefix "$3" >"$log" 2>&1 || { cat "$log"; rm -f "$log"; fail "cmake --install"; }
  rm -f "$log"
}
