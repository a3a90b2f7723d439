# Shared by the end-to-end scripts that run the real program: a session bus of the script's
# own, a scratch directory cleaned up at exit, and an X server on a free display.
#
#   source XvfbSession.sh; own_bus "$0" "$@"; require_tools ...; start_work; start_xvfb
# A script defines fail() (which may read $work) before calling start_xvfb.

# Runs the script again inside a bus of its own, so that no other program's broadcasts mix in.
# The bus reads no service files: a call to a name nobody owns fails rather than starting an
# installed Morvane.
own_bus() {
  if [ -z "${MORVANE_E2E_BUS:-}" ]; then
    MORVANE_E2E_BUS=1 exec dbus-run-session \
      --config-file="$(dirname "${BASH_SOURCE[0]}")/session-bus.conf" -- "$@"
  fi
}

require_tools() {
  for tool in "$@"; do
    if ! command -v "$tool" >/dev/null; then
      echo "SKIPPED: $tool is not installed (scripts/deps.sh installs it)"
      exit 77
    fi
  done
}

# $work: the scratch directory; $pids: processes to end at exit.
start_work() {
  work=$(mktemp -d)
  pids=()
  trap cleanup EXIT
}
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}

# Xvfb picks a free display and tells its number.
start_xvfb() {
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
  [ -s "$work/display" ] || fail "Xvfb did not start"
  export DISPLAY=:$(cat "$work/display")
  unset QT_QPA_PLATFORM
}

# A property of the running Morvane's focuser interface (gdbus's text). Fails while no Morvane
# is on the bus: the bus is asked first, since a call to a name nobody owns would start an
# installed copy through the bus's service files.
morvane_property() {
  gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
    -m org.freedesktop.DBus.NameHasOwner org.morvane.Morvane 2>/dev/null | grep -q true || return 1
  gdbus call --session -d org.morvane.Morvane -o /org/morvane/Morvane \
    -m org.freedesktop.DBus.Properties.Get org.morvane.Focuser1 "$1" 2>/dev/null
}
