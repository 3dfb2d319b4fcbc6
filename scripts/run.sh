#!/usr/bin/env bash
# The main job: lumidropRemote following a training session, the whole loop.
#
# It starts everything on this machine, private to this run: a mosquitto
# broker on a free loopback port (its own configuration, never the
# system's service), the relay service stand-in, the DSU simulator on a
# pseudo-terminal (channel 0 carries 10 Hz bursts, ten seconds on, ten
# off), and the main-application stand-in, which acquires that stream
# through libtelvaris, filters channel 0 to the alpha band (8-12 Hz) with
# the library's band-pass, and publishes a reward whenever the band's
# amplitude reaches its threshold, else an inhibit (tlAPISetFeedbackStatus,
# MQTT mode); then lumidropRemote subscribed at that broker, whose overlay
# clears and darkens in turn with the bursts. Without a display it runs on
# a private X server (Xvfb, with openbox), with a picture behind the
# overlay, and saves screenshots as the overlay fades. Ctrl+C ends it all.
#
# The first run installs what is missing and builds build-release/ (two to
# three minutes on two cores); later runs start within seconds.
#
# With --windows the fading program is the 64-bit lumidropRemote.exe with
# its telvaris.dll, under wine, against the same broker and stand-ins; the
# overlay's opacity is read off the X server (_NET_WM_WINDOW_OPACITY). The
# first such run cross-builds them (scripts/build-windows.sh, some ten
# minutes on two cores) and wine makes a prefix of the run's own (half a
# minute).
#
# Usage: scripts/run.sh [--seconds N] [--bin DIR] [--screenshots DIR] [--email ADDRESS] [--verbose] [--windows]
#   --seconds N        end by itself after N seconds (0: run until Ctrl+C)
#   --bin DIR          use the programs already built in DIR (no install, no build)
#   --screenshots DIR  where screenshots go without a display
#                      (default: screenshots/ beside the programs' folder)
#   --email ADDRESS    the trainee's e-mail address (default trainee@example.org)
#   --verbose          show what the programs write (every opacity of the overlay)
#   --windows          the Windows build of lumidropRemote under wine
#   -h, --help         show this text
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$top/scripts/wait_until.sh"

seconds=0
bin=""
shots=""
email="trainee@example.org"
verbose=0
windows=0
# The comment block at the top, up to its first line of script.
usage() { awk 'NR == 1 { next } /^#/ { sub(/^# ?/, ""); print; next } { exit }' "${BASH_SOURCE[0]}"; }
while [[ $# -gt 0 ]]; do
  case "$1" in
    --seconds) seconds="${2:?--seconds needs a number}"; shift 2 ;;
    --bin) bin="${2:?--bin needs a folder}"; shift 2 ;;
    --screenshots) shots="${2:?--screenshots needs a folder}"; shift 2 ;;
    --email) email="${2:?--email needs an address}"; shift 2 ;;
    --verbose) verbose=1; shift ;;
    --windows) windows=1; shift ;;
    -h|--help) usage; exit 0 ;;
    *) echo "run.sh: unknown option '$1'" >&2; usage >&2; exit 2 ;;
  esac
done
[[ "$seconds" =~ ^[0-9]+$ ]] || { echo "run.sh: --seconds wants a whole number" >&2; exit 2; }

say() { echo "run.sh: $*"; }
interactive=0
[[ -t 1 ]] && interactive=1

# ------------------------------------------------------------------ build
# ninja's "[n/N] ..." lines as one line that updates on a terminal, else a
# line at every tenth of the way; the stage lines of build.sh as they come.
# Everything else (the compiler's words) is in the log.
show_progress() {
  local line tenth=-1 n total
  while IFS= read -r line; do
    if [[ "$line" =~ ^\[([0-9]+)/([0-9]+)\]\ (.*)$ ]]; then
      n="${BASH_REMATCH[1]}"
      total="${BASH_REMATCH[2]}"
      if [[ $interactive -eq 1 ]]; then
        printf '\r\033[K  [%s/%s] %.70s' "$n" "$total" "${BASH_REMATCH[3]}"
      elif ((n * 10 / total != tenth)); then
        tenth=$((n * 10 / total))
        echo "  [$n/$total] ${BASH_REMATCH[3]}"
      fi
    elif [[ "$line" == build.sh:* ]]; then
      [[ $interactive -eq 1 && $tenth -ne -1 ]] && echo
      echo "  ${line#build.sh: }"
    elif [[ "$line" == "ninja: no work to do." ]]; then
      echo "  already built"
    fi
  done
  [[ $interactive -eq 1 ]] && printf '\r\033[K'
  return 0
}

build_release() {
  local dir="$top/build-release"
  local log="$dir/build.log"
  mkdir -p "$dir"
  say "building the programs in $dir (the first time two to three minutes; log: $log)"
  local rc
  set +e
  bash "$top/scripts/build.sh" "$dir" "" -DTELVARIS_BUILD_TESTS=OFF 2>&1 | tee "$log" | show_progress
  rc=${PIPESTATUS[0]}
  set -e
  if [[ $rc -ne 0 ]]; then
    echo "run.sh: the build failed; the compiler said:" >&2
    if grep -q '^FAILED:' "$log"; then
      sed -n '/^FAILED:/,/^ninja: build stopped/p' "$log" | head -n 60 >&2
    else
      tail -n 40 "$log" >&2
    fi
    echo "run.sh: the whole build log is $log" >&2
    exit 1
  fi
}

if [[ -z "$bin" ]]; then
  cd "$top"
  say "checking the Debian packages it needs (scripts/deps.sh build run)"
  bash scripts/deps.sh build run
  build_release
  bin="$top/build-release/bin"
fi
bin="$(cd "$bin" && pwd)"
for program in lumidropRemote libtelvaris.so relay-service dsu-sim session-standin; do
  [[ -e "$bin/$program" ]] || { echo "run.sh: $bin/$program is missing" >&2; exit 1; }
done
if [[ $windows -eq 1 ]]; then
  winbin="$top/build-windows/x86_64/bin"
  if [[ ! -e "$winbin/lumidropRemote.exe" || ! -e "$winbin/telvaris.dll" ]]; then
    say "cross-building lumidropRemote.exe and telvaris.dll (scripts/build-windows.sh; log: $top/build-windows.log)"
    bash "$top/scripts/build-windows.sh" >"$top/build-windows.log" 2>&1 ||
      { tail -n 40 "$top/build-windows.log" >&2; echo "run.sh: the Windows build failed" >&2; exit 1; }
  fi
  bash "$top/scripts/deps.sh" windows-run
  wine=/usr/lib/wine/wine64
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/lumidrop-run.XXXXXX")"
names=()
pids=()
lumidrop_pid=""
lumidrop_status=""
follower_pid=""
sampler_pid=""
# Fixed files of the library (logs, exports) in a root of this run's own,
# gone with it; never the user's ~/.local/share/telvaris.
export TELVARIS_ROOT="$work/root"
mkdir -p "$TELVARIS_ROOT"

# Started programs sit in sessions of their own, so that a Ctrl+C at the
# terminal reaches this script alone, which then ends them in order
# (lumidropRemote first, while its X server still runs); and they end with
# this script even if it is killed outright.
detached=()
command -v setsid >/dev/null && detached+=(setsid)
command -v setpriv >/dev/null && detached+=(setpriv --pdeathsig TERM)
# launch NAME LOG COMMAND...: one more program of this run, stopped at the
# end in the reverse order of starting.
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

# ------------------------------------------------------------ what it saw
# Decisions the relay stand-in passed on to lumidropRemote's topic.
decisions() { grep -c -- '-> ' "$work/relay.log" 2>/dev/null || true; }
rewards() { grep -c -- '^relay-service: reward -> ' "$work/relay.log" 2>/dev/null || true; }
# The overlay's opacities (alpha of 255) as lumidropRemote reports them.
alphas() { sed -n 's/^\[overlay\] alpha \([0-9]*\)$/\1/p' "$work/lumidrop.log" 2>/dev/null || true; }
last_alpha() { alphas | tail -n 1; }
# Packets the session stand-in acquired from the DSU simulator, and its own
# count of decisions: its last report ("P packets, D decisions, R rewards")
# or its closing line ("ended after D decisions (R rewards) made from P
# packets acquired on COMn").
acquired() {
  sed -n -e 's/^session-standin: \([0-9]*\) packets, .*/\1/p' \
    -e 's/.* made from \([0-9]*\) packets acquired .*/\1/p' "$work/standin.log" 2>/dev/null | tail -n 1
}
decided() {
  sed -n -e 's/^session-standin: [0-9]* packets, \([0-9]*\) decisions, \([0-9]*\) rewards.*/\1 \2/p' \
    -e 's/^session-standin: ended after \([0-9]*\) decisions (\([0-9]*\) rewards).*/\1 \2/p' \
    "$work/standin.log" 2>/dev/null | tail -n 1
}

elapsed=0
shot=0
shot_list=()
status_shown=0
status_line() {
  local a
  a="$(last_alpha)"
  printf '%3d s: %s packets acquired, %s decisions relayed, overlay alpha %s of 255, %d screenshots' "$elapsed" \
    "$(p=$(acquired); echo "${p:-0}")" "$(decisions)" "${a:--}" "$shot"
}
show_status() {
  if [[ $verbose -eq 1 ]]; then return; fi
  if [[ $interactive -eq 1 ]]; then
    printf '\r\033[K%s' "$(status_line)"
    status_shown=1
  elif ((elapsed % 10 == 0)); then
    echo "$(status_line)"
  fi
}
end_status() {
  [[ $status_shown -eq 1 ]] && printf '\r\033[K'
  status_shown=0
}

summary() {
  end_status
  local all count a_min a_max n_dec n_rew
  all="$(alphas)"
  count=$(grep -c . <<<"$all" || true)
  a_min=$(sort -n <<<"$all" | head -n 1)
  a_max=$(sort -n <<<"$all" | tail -n 1)
  n_dec=$(decisions)
  n_rew=$(rewards)
  echo "run.sh: summary"
  echo "  ran ${elapsed} s: mosquitto on ${port:+tcp://127.0.0.1:$port}, relay-service, dsu-sim, session-standin and lumidropRemote${DISPLAY:+ on $DISPLAY}"
  local made n_made n_made_rew
  made="$(decided)"
  read -r n_made n_made_rew <<<"${made:-0 0}"
  echo "  packets acquired by session-standin from dsu-sim on COM$com (through libtelvaris): $(p=$(acquired); echo "${p:-0}")"
  echo "  decisions made from them (alpha band of channel 0 against $threshold): $n_made ($n_made_rew rewards, $((n_made - n_made_rew)) inhibits)"
  echo "  decisions relayed to lumidropRemote: $n_dec ($n_rew rewards, $((n_dec - n_rew)) inhibits)"
  if [[ $count -gt 0 ]]; then
    echo "  overlay opacity: $count changes, alpha $a_min to $a_max of 255; at the end $(last_alpha) (cleared on closing down)"
  fi
  if [[ $own_display -eq 1 ]]; then
    echo "  screenshots in $shots:"
    local s
    for s in "${shot_list[@]}"; do echo "    $s"; done
    [[ ${#shot_list[@]} -eq 0 ]] && echo "    none (ImageMagick's import is missing, or the run was too short)"
  fi
  [[ -n "$lumidrop_status" ]] && echo "  lumidropRemote closed down with exit code $lumidrop_status"
  return 0
}

status=0
own_display=0
port=""
started=0
cleanup() {
  trap - EXIT INT TERM
  # The fading program first: it closes down as closing its window does
  # (full volume, clear overlay, settings saved).
  if [[ -n "$lumidrop_pid" ]]; then
    stop_pid "$lumidrop_pid" 10
    wait "$lumidrop_pid" 2>/dev/null || true
  fi
  [[ -n "$follower_pid" ]] && { wait "$follower_pid" 2>/dev/null || true; }
  if [[ $windows -eq 1 ]]; then
    [[ -n "$sampler_pid" ]] && { kill "$sampler_pid" 2>/dev/null; wait "$sampler_pid" 2>/dev/null || true; }
    [[ -n "${WINEPREFIX:-}" ]] && /usr/lib/wine/wineserver -k 2>/dev/null || true
  fi
  for ((k = ${#pids[@]} - 1; k >= 0; k--)); do stop_pid "${pids[$k]}" 5; done
  [[ $started -eq 1 ]] && summary
  local left=()
  for ((k = 0; k < ${#pids[@]}; k++)); do alive "${pids[$k]}" && left+=("${names[$k]}"); done
  if [[ ${#left[@]} -eq 0 ]]; then
    echo "  stopped: lumidropRemote ${names[*]}; nothing left running"
  else
    echo "  still running: ${left[*]}" >&2
  fi
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'end_status; echo; say "stopping"; status=130; cleanup' INT TERM

fail() {
  end_status
  echo "run.sh: $1" >&2
  [[ -n "${2:-}" && -f "$2" ]] && cat "$2" >&2
  status=1
  exit 1
}

port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# Where the overlay stands (twips; 15 to the pixel at 96 dpi): beside the
# control panel, over a picture that shows what the dimming does.
overlay_left=7500 overlay_top=1200 overlay_width=10080 overlay_height=7860

# ---------------------------------------------------------------- display
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  own_display=1
  command -v Xvfb >/dev/null || fail "no display and no Xvfb (scripts/deps.sh run installs it)"
  # The server picks a free display number and tells it through fd 3.
  launch Xvfb "$work/xvfb.log" Xvfb -displayfd 3 -screen 0 1280x800x24 -dpi 96 -nolisten tcp -noreset \
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
  # What the trainee watches: a coloured, striped picture with text, a
  # little larger than the overlay so that its undimmed edge shows around
  # it.
  if command -v convert >/dev/null && command -v display >/dev/null; then
    px() { echo $(($1 / 15)); }
    w=$(($(px $overlay_width) + 60)) h=$(($(px $overlay_height) + 60))
    if convert -size "${w}x${h}" gradient:'#ffd23f-#3bceac' \
      -fill '#ee4266' -draw "rectangle 0,0 $((w / 3)),$h" -fill '#540d6e' -draw "rectangle $((2 * w / 3)),0 $w,$h" \
      -fill white -stroke black -strokewidth 2 -pointsize 44 -gravity center \
      -annotate +0-60 'What the trainee watches' -pointsize 28 -annotate +0+20 'dims as the overlay darkens' \
      "$work/backdrop.png" 2>"$work/convert.log"; then
      launch backdrop "$work/backdrop.log" display -title backdrop -geometry "+$(($(px $overlay_left) - 30))+$(($(px $overlay_top) - 30))" \
        "$work/backdrop.png"
    fi
  fi
  shots="${shots:-$(dirname "$bin")/screenshots}"
  mkdir -p "$shots"
  say "no display here; lumidropRemote shows on a private X server ($DISPLAY)"
fi
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$work/runtime}"
mkdir -p -m 0700 "$XDG_RUNTIME_DIR"

# ----------------------------------------------------------------- broker
command -v mosquitto >/dev/null || fail "mosquitto is not installed (scripts/deps.sh run installs it)"
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
say "private broker on tcp://127.0.0.1:$port"

# ------------------------------------------------ relay and session stand-ins
publish_topic="telvaris/demo/publish"
com=7
burst_amplitude=200
threshold=50
feedback_topic="/pelorvantis/$email/feedback"
launch relay-service "$work/relay.log" "$bin/relay-service" --broker "tcp://127.0.0.1:$port" --email "$email" \
  --listen "$publish_topic"
wait_until 100 grep -q "Sending SUBACK to relay-service" "$work/mosquitto.log" ||
  fail "the relay service stand-in did not subscribe" "$work/relay.log"
# The unit: a pseudo-terminal linked as COM$com of this run's root. Channel
# 0 carries 10 Hz (alpha) bursts of amplitude $burst_amplitude: ten seconds on,
# ten off: the overlay fades, a step a decision, from clear to nearly dark.
launch dsu-sim "$work/dsu.log" "$bin/dsu-sim" --com "$com" --channel "0=burst:10:$burst_amplitude:10"
wait_until 100 grep -q "ready on COM$com" "$work/dsu.log" || fail "the DSU simulator did not start" "$work/dsu.log"
# Ten decisions a second from the alpha band's amplitude of channel 0 (its
# root mean square over half a second): a reward from $threshold up, else an
# inhibit. The overlay clears during a burst and darkens between them.
launch session-standin "$work/standin.log" "$bin/session-standin" --port "$port" --topic "$publish_topic" \
  --period 100 --com "$com" --channel 0 --band 8-12 --threshold "$threshold"

# ------------------------------------------------------------ lumidropRemote
home="$work/home"
mkdir -p "$home"
ln -s "$bin/libtelvaris.so" "$home/libtelvaris.so"
# remote.conf present: the first-run defaults do not replace the broker
# settings below.
printf 'PORT=%s\r\nDEBUG_LEVEL=0\r\nMQTT_ADDRESS=tcp://127.0.0.1\r\nCLIENT_ID=C1-%s\r\nSUBSCRIBER_TOPIC=%s\r\n' \
  "$port" "$email" "$feedback_topic" >"$home/remote.conf"
printf '[General]\r\nEmail="%s"\r\nTop= %s\r\nLeft= %s\r\nHeight= %s\r\nWidth= %s\r\n[MQTT]\r\nServerAddress="tcp://127.0.0.1"\r\nServerPortNumber= %s\r\nSubscriberTopic="%s"\r\nClientID="C1-%s"\r\n' \
  "$email" "$overlay_top" "$overlay_left" "$overlay_height" "$overlay_width" "$port" "$feedback_topic" "$email" \
  >"$home/lumidrop.ini"
say "lumidropRemote follows $feedback_topic (Ctrl+C ends everything)"
[[ $verbose -eq 1 ]] || say "its own words go to a log; --verbose shows them here"
: >"$work/lumidrop.log"
if [[ $windows -eq 1 ]]; then
  # The program's folder holds its settings and the DLLs it loads.
  cp "$winbin/lumidropRemote.exe" "$winbin/telvaris.dll" "$winbin/paho-mqtt3c.dll" "$home/"
  export WINEPREFIX="$work/wineprefix" WINEDEBUG=-all WINEARCH=win64
  say "starting lumidropRemote.exe under wine (a new wine prefix takes half a minute)"
  (cd "$home" && WINEDLLOVERRIDES="mscoree,mshtml=" exec "${detached[@]}" "$wine" lumidropRemote.exe) \
    </dev/null >"$work/wine.log" 2>&1 &
  lumidrop_pid=$!
  # The overlay's opacity as the program's Linux twin reports it: read off
  # the X server whenever it changes.
  (
    overlay=""
    last=""
    while alive "$lumidrop_pid"; do
      [[ -n "$overlay" ]] ||
        overlay="$(xdotool search --onlyvisible --name "^Telvaris Lumidrop$" 2>/dev/null | head -n 1 || true)"
      if [[ -n "$overlay" ]]; then
        value="$(xprop -id "$overlay" _NET_WM_WINDOW_OPACITY 2>/dev/null | sed -n 's/.* = \([0-9]*\)$/\1/p' || true)"
        if [[ -z "$value" ]]; then
          overlay=""  # Setup shows a new overlay
        elif [[ "$value" != "$last" ]]; then
          echo "[overlay] alpha $((value >> 24))" >>"$work/lumidrop.log"
          last="$value"
        fi
      fi
      sleep 0.1
    done
  ) &
  sampler_pid=$!
else
  LUMIDROP_HOME="$home" "${detached[@]}" "$bin/lumidropRemote" </dev/null >"$work/lumidrop.log" 2>&1 &
  lumidrop_pid=$!
fi
started=1
if [[ $verbose -eq 1 ]]; then
  # Its words as they come, to the last one: the follower lets a Ctrl+C
  # pass and ends once lumidropRemote has.
  (
    trap '' INT TERM
    exec tail -s 0.2 -n +1 -f --pid="$lumidrop_pid" "$work/lumidrop.log"
  ) &
  follower_pid=$!
fi

# ------------------------------------------------------------ and then wait
# Screenshots at clearly different opacities: the overlay nearly clear, half
# dark and dark (alpha of 255), each the first time the fade gets there once
# decisions flow.
bands=("clear 0 50" "half 90 160" "dark 190 255")
take_screenshot() {
  local band="$1" alpha="$2"
  command -v import >/dev/null || return 0
  shot=$((shot + 1))
  local file="$shots/lumidrop-$shot-$band.png"
  if import -window root "$file" 2>/dev/null; then
    shot_list+=("$(basename "$file")  overlay alpha $alpha of 255")
  fi
}
[[ $own_display -eq 1 ]] && say "Screenshots: $shots" && rm -f "$shots"/lumidrop-*.png
taken=""
while alive "$lumidrop_pid"; do
  if [[ $seconds -gt 0 && $elapsed -ge $seconds ]]; then
    end_status
    say "$seconds seconds are up"
    break
  fi
  if [[ $own_display -eq 1 && $(decisions) -ge 5 ]]; then
    alpha="$(last_alpha)"
    for band in "${bands[@]}"; do
      read -r name low high <<<"$band"
      if [[ -n "$alpha" && $alpha -ge $low && $alpha -le $high && " $taken " != *" $name "* ]]; then
        taken+=" $name"
        take_screenshot "$name" "$alpha"
      fi
    done
  fi
  show_status
  sleep 1 &
  wait $! || true
  elapsed=$((elapsed + 1))
done
# A termination request closes it down as closing its window does; under
# wine the window manager closes the overlay, which closes the program down.
if [[ $windows -eq 1 ]]; then
  overlay="$(xdotool search --onlyvisible --name "^Telvaris Lumidrop$" 2>/dev/null | head -n 1 || true)"
  [[ -z "$overlay" ]] || wmctrl -i -c "$overlay" || true
else
  alive "$lumidrop_pid" && kill -TERM "$lumidrop_pid"
fi
wait_until 150 eval '! alive "$lumidrop_pid"' || kill -KILL "$lumidrop_pid" 2>/dev/null || true
wait "$lumidrop_pid" || status=$?
lumidrop_status=$status
lumidrop_pid=""
[[ $status -eq 0 ]] || echo "run.sh: lumidropRemote ended with status $status" >&2
