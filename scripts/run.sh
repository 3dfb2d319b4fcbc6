#!/usr/bin/env bash
# The main job: lumidropRemote following a synthetic training session.
#
# With no broker of your own it starts everything on this machine, private
# to this run: a mosquitto broker on a free loopback port (its own
# configuration, never the system's service), the relay service stand-in,
# and the main-application stand-in publishing a session's decisions
# through libtelvaris; then lumidropRemote subscribed at that broker, so
# the overlay fades within seconds. Without a display it runs on a private
# X server (Xvfb, with openbox) and saves screenshots. Ctrl+C ends it all.
#
# Usage: scripts/run.sh [--seconds N] [--bin DIR] [--screenshots DIR] [--email ADDRESS]
#   --seconds N        end by itself after N seconds (0: run until Ctrl+C)
#   --bin DIR          use the programs already built in DIR (no install, no build)
#   --screenshots DIR  where screenshots go without a display
#                      (default: screenshots/ beside the programs' folder)
#   --email ADDRESS    the trainee's e-mail address (default trainee@example.org)
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

seconds=0
bin=""
shots=""
email="trainee@example.org"
usage() { sed -n '2,18p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; }
while [[ $# -gt 0 ]]; do
  case "$1" in
    --seconds) seconds="${2:?--seconds needs a number}"; shift 2 ;;
    --bin) bin="${2:?--bin needs a folder}"; shift 2 ;;
    --screenshots) shots="${2:?--screenshots needs a folder}"; shift 2 ;;
    --email) email="${2:?--email needs an address}"; shift 2 ;;
    -h|--help) usage; exit 0 ;;
    *) echo "run.sh: unknown option '$1'" >&2; usage >&2; exit 2 ;;
  esac
done
[[ "$seconds" =~ ^[0-9]+$ ]] || { echo "run.sh: --seconds wants a whole number" >&2; exit 2; }

if [[ -z "$bin" ]]; then
  cd "$top"
  bash scripts/deps.sh build run
  # The programs only: the test suite is scripts/test.sh's business.
  bash scripts/build.sh build-release "" -DTELVARIS_BUILD_TESTS=OFF >/dev/null
  bin="$top/build-release/bin"
fi
bin="$(cd "$bin" && pwd)"
for program in lumidropRemote libtelvaris.so relay-service session-standin; do
  [[ -e "$bin/$program" ]] || { echo "run.sh: $bin/$program is missing" >&2; exit 1; }
done

work="$(mktemp -d "${TMPDIR:-/tmp}/lumidrop-run.XXXXXX")"
names=()
pids=()
lumidrop_pid=""

# Started programs sit in sessions of their own, so that a Ctrl+C at the
# terminal reaches this script alone, which then ends them in order
# (lumidropRemote first, while its X server still runs); and they end with
# this script even if it is killed outright.
detached=()
command -v setsid >/dev/null && detached+=(setsid)
command -v setpriv >/dev/null && detached+=(setpriv --pdeathsig TERM)
launch() {
  local name="$1" log="$2"
  shift 2
  "${detached[@]}" "$@" >"$log" 2>&1 &
  names+=("$name")
  pids+=($!)
}

# Running, not merely waiting to be reaped.
alive() {
  local state
  state="$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f1)" || return 1
  [[ -n "$state" && "$state" != Z ]]
}

stop_pid() {
  local pid="$1" grace="$2"
  kill -TERM "$pid" 2>/dev/null || return 0
  for ((i = 0; i < grace * 10; i++)); do
    alive "$pid" || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

status=0
cleanup() {
  trap - EXIT INT TERM
  # The fading program first: it closes down as closing its window does
  # (full volume, clear overlay, settings saved).
  if [[ -n "$lumidrop_pid" ]]; then
    stop_pid "$lumidrop_pid" 10
    wait "$lumidrop_pid" 2>/dev/null || true
  fi
  for ((k = ${#pids[@]} - 1; k >= 0; k--)); do stop_pid "${pids[$k]}" 5; done
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'echo; echo "run.sh: stopping"; status=130; cleanup' INT TERM

fail() {
  echo "run.sh: $1" >&2
  [[ -n "${2:-}" && -f "$2" ]] && cat "$2" >&2
  status=1
  exit 1
}

wait_until() {  # wait_until TENTHS COMMAND...
  local tenths="$1"
  shift
  for ((i = 0; i < tenths; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# ---------------------------------------------------------------- display
own_display=0
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  own_display=1
  command -v Xvfb >/dev/null || fail "no display and no Xvfb (scripts/deps.sh run installs it)"
  # The server picks a free display number and tells it through fd 3.
  launch xvfb "$work/xvfb.log" Xvfb -displayfd 3 -screen 0 1280x800x24 -dpi 96 -nolisten tcp -noreset \
    3>"$work/display"
  wait_until 150 test -s "$work/display" || fail "Xvfb did not start" "$work/xvfb.log"
  export DISPLAY=":$(head -n 1 "$work/display")"
  if command -v openbox >/dev/null; then
    # openbox names itself on the display before it takes windows in; a
    # window mapped in between would stay without a frame. Its start-up
    # command runs once it manages windows.
    launch openbox "$work/openbox.log" env HOME="$work" XDG_CONFIG_HOME="$work/config" \
      openbox --sm-disable --startup "touch '$work/openbox-ready'"
    wait_until 150 test -e "$work/openbox-ready" || fail "openbox did not start" "$work/openbox.log"
  fi
  # A compositing manager draws the overlay's opacity, so that the
  # screenshots show the fade.
  if command -v xcompmgr >/dev/null; then launch xcompmgr "$work/xcompmgr.log" xcompmgr; fi
  command -v xsetroot >/dev/null && xsetroot -solid '#5b7fa6' || true
  shots="${shots:-$(dirname "$bin")/screenshots}"
  mkdir -p "$shots"
  echo "run.sh: no display here; lumidropRemote shows on a private X server ($DISPLAY)"
fi
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$work/runtime}"
mkdir -p -m 0700 "$XDG_RUNTIME_DIR"

# ----------------------------------------------------------------- broker
command -v mosquitto >/dev/null || fail "mosquitto is not installed (scripts/deps.sh run installs it)"
port=""
for attempt in 1 2 3 4 5; do
  candidate=$((20000 + RANDOM % 40000))
  port_free "$candidate" || continue
  {
    echo "listener $candidate 127.0.0.1"
    echo "allow_anonymous true"
    echo "persistence false"
    echo "log_dest file $work/mosquitto.log"
    echo "log_type all"
    [[ $(id -u) -eq 0 ]] && echo "user root"
  } >"$work/mosquitto.conf"
  launch mosquitto "$work/mosquitto.out" mosquitto -c "$work/mosquitto.conf"
  if wait_until 50 port_open "$candidate"; then
    port="$candidate"
    break
  fi
  stop_pid "${pids[-1]}" 2
  unset 'pids[-1]' 'names[-1]'
done
[[ -n "$port" ]] || fail "mosquitto did not start" "$work/mosquitto.out"
echo "run.sh: private broker on tcp://127.0.0.1:$port"

# ------------------------------------------------ relay and session stand-ins
publish_topic="telvaris/demo/publish"
feedback_topic="/pelorvantis/$email/feedback"
launch relay-service "$work/relay.log" "$bin/relay-service" --broker "tcp://127.0.0.1:$port" --email "$email" \
  --listen "$publish_topic"
wait_until 100 grep -q "Sending SUBACK to relay-service" "$work/mosquitto.log" ||
  fail "the relay service stand-in did not subscribe" "$work/relay.log"
launch session-standin "$work/standin.log" "$bin/session-standin" --port "$port" --topic "$publish_topic" \
  --period 250 --cycle 20

# ------------------------------------------------------------ lumidropRemote
home="$work/home"
mkdir -p "$home"
ln -s "$bin/libtelvaris.so" "$home/libtelvaris.so"
# remote.conf present: the first-run defaults do not replace the broker
# settings below. The overlay stands beside the control panel.
printf 'PORT=%s\r\nDEBUG_LEVEL=0\r\nMQTT_ADDRESS=tcp://127.0.0.1\r\nCLIENT_ID=C1-%s\r\nSUBSCRIBER_TOPIC=%s\r\n' \
  "$port" "$email" "$feedback_topic" >"$home/remote.conf"
printf '[General]\r\nEmail="%s"\r\nTop= 1200\r\nLeft= 6900\r\nHeight= 7860\r\nWidth= 10080\r\n[MQTT]\r\nServerAddress="tcp://127.0.0.1"\r\nServerPortNumber= %s\r\nSubscriberTopic="%s"\r\nClientID="C1-%s"\r\n' \
  "$email" "$port" "$feedback_topic" "$email" >"$home/lumidrop.ini"
echo "run.sh: lumidropRemote follows $feedback_topic (Ctrl+C ends everything)"
LUMIDROP_HOME="$home" "${detached[@]}" "$bin/lumidropRemote" </dev/null &
lumidrop_pid=$!

# ------------------------------------------------------------ and then wait
shot=0
take_screenshot() {
  [[ $own_display -eq 1 ]] && command -v import >/dev/null || return 0
  shot=$((shot + 1))
  local file="$shots/lumidrop-$shot.png"
  if import -window root "$file" 2>/dev/null; then
    echo "run.sh: screenshot $file"
  fi
}
[[ $own_display -eq 1 ]] && echo "Screenshots: $shots"
elapsed=0
while alive "$lumidrop_pid"; do
  if [[ $seconds -gt 0 && $elapsed -ge $seconds ]]; then
    echo "run.sh: $seconds seconds are up"
    break
  fi
  # A few screenshots while the overlay fades: at 4, 8 and 12 seconds.
  if [[ $own_display -eq 1 && $elapsed -gt 0 && $((elapsed % 4)) -eq 0 && $shot -lt 3 ]]; then
    take_screenshot
  fi
  sleep 1 &
  wait $! || true
  elapsed=$((elapsed + 1))
done
# A termination request closes it down as closing its window does.
alive "$lumidrop_pid" && kill -TERM "$lumidrop_pid"
wait_until 150 eval '! alive "$lumidrop_pid"' || kill -KILL "$lumidrop_pid" 2>/dev/null || true
wait "$lumidrop_pid" || status=$?
lumidrop_pid=""
[[ $status -eq 0 ]] || echo "run.sh: lumidropRemote ended with status $status" >&2
