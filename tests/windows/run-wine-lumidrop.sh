#!/usr/bin/env bash
# run-wine-lumidrop.sh WIN64-TREE WIN32-TREE: the fading program for Windows
# under wine64 on a private X server (Xvfb, openbox, xcompmgr). Checks the
# 32-bit lumidropRemote.exe's imports; runs test_wine_lumidrop.exe without
# an audio device and again with a private sound server; then runs the
# 64-bit lumidropRemote.exe against a Linux mosquitto, publishes decisions
# and follows the overlay's _NET_WM_WINDOW_OPACITY, its place above other
# windows, the panel's states (screenshots in WIN64-TREE/wine-lumidrop/
# screenshots) and its two ways to close. Its wine prefix is
# WIN64-TREE/wineprefix-x11, made on the X server (the other wine runs make
# theirs without a display, and wine keeps the screen it found then). Ends
# with "lumidrop: N passed, M failed"; exit status 0 when nothing failed.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
win64="$(cd "$1" && pwd)" win32="$(cd "$2" && pwd)"
bin="$win64/bin"
export WINEPREFIX="$win64/wineprefix-x11" WINEDEBUG=-all WINEARCH=win64
wine=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver
# Without an audio driver: no device at all.
no_audio="mscoree,mshtml=;winepulse.drv,winealsa.drv,wineoss.drv=d"
work="$win64/wine-lumidrop"
shots="$work/screenshots"
rm -rf "$work"
mkdir -p "$work" "$shots"
pids=()
. "$here/counting.sh"
started=$(date +%s)

cleanup() {
  [[ -n "${program_pid:-}" ]] && kill "$program_pid" 2>/dev/null
  for ((k = ${#pids[@]} - 1; k >= 0; k--)); do kill "${pids[$k]}" 2>/dev/null; done
  wait 2>/dev/null
}
trap cleanup EXIT

free_port() { /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

echo "--- the 32-bit lumidropRemote.exe (built and checked, not run)"
exe32="$win32/bin/lumidropRemote.exe"
if [[ -f "$exe32" ]]; then
  header="$(i686-w64-mingw32-objdump -f "$exe32")"
  imports="$(i686-w64-mingw32-objdump -p "$exe32" | sed -n 's/^\tDLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)"
  echo "imports: $(tr '\n' ' ' <<<"$imports")"
  grep -q "file format pei-i386" <<<"$header"
  result "lumidropRemote.exe is a 32-bit Windows program" $?
  system_dlls=" kernel32.dll user32.dll gdi32.dll comctl32.dll ole32.dll oleaut32.dll winmm.dll msvcrt.dll advapi32.dll ws2_32.dll shell32.dll "
  strays=""
  for dll in $imports; do [[ "$system_dlls" == *" $dll "* ]] || strays+="$dll "; done
  [[ -z "$strays" && -n "$imports" ]]
  result "it imports system DLLs only${strays:+ (not: $strays)}; telvaris.dll is bound at run time by file name" $?
  grep -aq "Microsoft.Windows.Common-Controls" "$exe32" && grep -aq "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a" "$exe32" &&
    grep -aq "dpiAware" "$exe32"
  result "its manifest asks for common controls 6, declares Windows 10 and 11 and dpi awareness" $?
else
  result "the 32-bit lumidropRemote.exe is built ($exe32)" 1
fi

echo "--- a private X server, a broker and a sound server"
Xvfb -displayfd 3 -screen 0 1280x800x24 -dpi 96 -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
wait_until 150 test -s "$work/display" || { echo "FAIL Xvfb did not start"; exit 1; }
export DISPLAY=":$(head -n 1 "$work/display")"
HOME="$work" XDG_CONFIG_HOME="$work/config" openbox --sm-disable --startup "touch '$work/openbox-ready'" \
  >"$work/openbox.log" 2>&1 &
pids+=($!)
wait_until 150 test -e "$work/openbox-ready" || { echo "FAIL openbox did not start"; exit 1; }
# A prefix made here, on the X server: one made without a display keeps a
# 1024 x 768 screen for good.
if [[ ! -d "$WINEPREFIX/drive_c" ]]; then
  WINEDLLOVERRIDES="$no_audio" "$wine" wineboot -i >/dev/null 2>&1
fi
"$server" -p </dev/null >/dev/null 2>&1  # kept warm (one may run already)
# A compositing manager draws the overlay's opacity in the screenshots.
command -v xcompmgr >/dev/null && { xcompmgr >"$work/xcompmgr.log" 2>&1 & pids+=($!); }

broker_port=$(free_port)
printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\n' "$broker_port" >"$work/mosquitto.conf"
/usr/sbin/mosquitto -c "$work/mosquitto.conf" >"$work/mosquitto.log" 2>&1 &
pids+=($!)
wait_until 100 mosquitto_pub -p "$broker_port" -t lumidrop/probe -m x 2>/dev/null

pulse="$work/pulse"
mkdir -p "$pulse/run" "$pulse/state"
HOME="$pulse" XDG_RUNTIME_DIR="$pulse/run" PULSE_RUNTIME_PATH="$pulse/run" PULSE_STATE_PATH="$pulse/state" \
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --log-target=stderr \
  "--load=module-native-protocol-unix socket=$pulse/native auth-anonymous=1" \
  "--load=module-null-sink sink_name=wine_out" >"$pulse/pulseaudio.log" 2>&1 &
pids+=($!)
export PULSE_SERVER="unix:$pulse/native"
wait_until 100 pactl info >/dev/null 2>&1
echo "display $DISPLAY, mosquitto on $broker_port, pulseaudio at $PULSE_SERVER; ready after $(($(date +%s) - started)) s"

echo "--- test_wine_lumidrop.exe"
# Runs the suite with one gtest filter; its cases count one by one.
suite() {
  local name="$1" audio="$2" overrides="$3" filter="$4"
  local log="$work/$name.log" rc=0
  TLV_TEST_AUDIO="$audio" WINEDLLOVERRIDES="$overrides" timeout 180 "$wine" "$bin/test_wine_lumidrop.exe" \
    --gtest_filter="$filter" --gtest_color=no >"$log" 2>&1 || rc=$?
  local ok bad
  ok=$(sed -nE 's/^\[  PASSED  \] ([0-9]+) tests?.*/\1/p' "$log" | tail -1)
  bad=$(sed -nE 's/^\[  FAILED  \] ([0-9]+) tests?, listed below.*/\1/p' "$log" | tail -1)
  passed=$((passed + ${ok:-0}))
  failed=$((failed + ${bad:-0}))
  if [[ $rc -ne 0 ]]; then
    [[ -z "$bad" ]] && failed=$((failed + 1))
    echo "FAIL $name (exit $rc):"
    grep -E '^\[  FAILED  \]|Failure|Expected|Which is|actual|error' "$log" | head -60
  else
    echo "PASS $name: ${ok:-0} cases"
  fi
}
suite "without an audio device" none "$no_audio" '*'
suite "with a sound server" device "mscoree,mshtml=" 'WineAudio.*'

echo "--- lumidropRemote.exe against mosquitto on Linux"
program="$work/program"
mkdir -p "$program"
cp "$bin/lumidropRemote.exe" "$bin/telvaris.dll" "$bin/paho-mqtt3c.dll" "$program/"
topic="/pelorvantis/trainee@example.org/feedback"
# Fixed response: an inhibit shows the maximum opacity 80 % (alpha 200), a
# reward the minimum 4 % (alpha 10).
write_settings() {
  printf '[General]\r\nEmail="trainee@example.org"\r\nAutoFade= 0\r\nOpacityInhibit= 80\r\nOpacityMinimum= 4\r\n[MQTT]\r\nServerAddress="tcp://127.0.0.1"\r\nServerPortNumber= %s\r\nSubscriberTopic="%s"\r\nClientID="C1-trainee"\r\n' \
    "$broker_port" "$topic" >"$program/lumidrop.ini"
  printf 'PORT=%s\r\nDEBUG_LEVEL=0\r\nMQTT_ADDRESS=tcp://127.0.0.1\r\nCLIENT_ID=C1-trainee\r\nSUBSCRIBER_TOPIC=%s\r\n' \
    "$broker_port" "$topic" >"$program/remote.conf"
}
# The overlay's caption is "Telvaris Lumidrop", the panel's "Telvaris
# LumiDrop v1.0.0". "Setup" unloads the overlay and shows a new one.
find_overlay() {
  overlay=""
  wait_until "$1" eval 'overlay=$(xdotool search --onlyvisible --name "^Telvaris Lumidrop$" 2>/dev/null | head -n 1); [[ -n "$overlay" ]]'
}
start_program() {
  (cd "$program" && WINEDLLOVERRIDES="mscoree,mshtml=" exec "$wine" lumidropRemote.exe) >"$work/program-$1.log" 2>&1 &
  program_pid=$!
  overlay="" panel=""
  find_overlay 300
  wait_until 100 eval 'panel=$(xdotool search --onlyvisible --name "^Telvaris LumiDrop v" 2>/dev/null | head -n 1); [[ -n "$panel" ]]'
  [[ -n "$overlay" && -n "$panel" ]]
}
opacity() { xprop -id "$overlay" _NET_WM_WINDOW_OPACITY 2>/dev/null | sed -n 's/.* = \([0-9]*\)$/\1/p'; }
# expect_opacity ALPHA: waits until the overlay's opacity is ALPHA in all four bytes.
expect_opacity() {
  local want=$(($1 * 0x01010101))
  wait_until 100 eval '[[ "$(opacity)" == "$want" ]]'
}
decide() { mosquitto_pub -p "$broker_port" -t "$topic" -m "{\"feedback\":\"$1\"}"; }
# follow DECISION ALPHA...: publishes each decision and waits for its alpha.
follow() {
  local trail="" ok=0
  while [[ $# -gt 0 ]]; do
    decide "$1"
    if expect_opacity "$2"; then
      trail+="$1 -> $(printf '0x%08X' "$(opacity)"); "
    else
      trail+="$1 -> $(opacity) (wanted alpha $2); "
      ok=1
    fi
    shift 2
  done
  echo "  $trail"
  return $ok
}
client_height() { xwininfo -id "$panel" 2>/dev/null | sed -n 's/.*Height: \([0-9]*\)/\1/p'; }
wm_state() { xprop -id "$1" WM_STATE 2>/dev/null | sed -n 's/.*window state: \(.*\)/\1/p'; }
shot() { import -window root "$shots/$1.png" 2>/dev/null; }
# click WINDOW X Y [BUTTON]: a real pointer click inside the window's client area.
click() { xdotool mousemove --window "$1" "$2" "$3" click "${4:-1}"; sleep 0.3; }

write_settings
rm -f "$program/lumidrop.pid"
start_program first
result "the panel and the overlay come up as X windows (overlay $overlay, panel $panel)" $?
expect_opacity 200
result "the overlay starts at the maximum opacity: _NET_WM_WINDOW_OPACITY $(printf '0x%08X' "$(opacity)")" $?
xprop -id "$overlay" _NET_WM_STATE | grep -q _NET_WM_STATE_ABOVE
result "the overlay is kept above: _NET_WM_STATE holds _NET_WM_STATE_ABOVE" $?
follow reward 10 inhibit 200 reward 10 inhibit 200 reward 10
result "_NET_WM_WINDOW_OPACITY follows the decisions (fixed response)" $?

# Another window, activated and raised over it: the overlay stays above.
convert -size 640x400 gradient:'#ffd23f-#3bceac' -fill white -pointsize 30 -gravity center \
  -annotate +0+0 'another window' "$work/other.png" 2>/dev/null
display -title other -geometry +420+60 "$work/other.png" >/dev/null 2>&1 &
pids+=($!)
other=""
wait_until 100 eval 'other=$(xdotool search --onlyvisible --name "^other$" 2>/dev/null | head -n 1); [[ -n "$other" ]]'
xdotool windowactivate --sync "$other" 2>/dev/null
xdotool windowraise "$other" 2>/dev/null
sleep 0.5
stacking="$(xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //; s/,//g')"
above=1
position() { local i=0 w; for w in $stacking; do [[ $((w)) -eq $(($1)) ]] && echo $i; i=$((i + 1)); done; }
[[ -n "$other" && -n "$(position "$overlay")" && $(position "$overlay") -gt $(position "$other") ]] && above=0
result "activated and raised, another window still stays below the overlay" $above
decide inhibit
expect_opacity 200
shot 1-running
# The panel's status line, its third state later.
click "$panel" 88 24
wait_until 50 eval '[[ $(client_height) -gt 400 ]]'
result "\"Setup\" opens the panel to its full height ($(client_height) pixels inside)" $?
sleep 0.5
find_overlay 50
shot 2-setup
# Auto Fade (in Frame1 at 120,5280; the box at 120,960 twips): checked.
click "$panel" 60 428
click "$panel" 88 24
wait_until 50 eval '[[ $(client_height) -lt 100 ]]'
result "\"Setup\" again starts the session with the running bar" $?
find_overlay 50
# Auto fade from level 10: inhibits climb by one percent, a reward goes
# back one (11 % gives alpha 28, 12 % alpha 30).
follow inhibit 28 inhibit 30 reward 28
result "_NET_WM_WINDOW_OPACITY follows the decisions (auto fade, one percent a decision)" $?
shot 3-auto-fade
xdotool windowminimize "$panel"
wait_until 50 eval '[[ "$(wm_state "$panel")" == Iconic ]]'
click "$overlay" 200 200 3
wait_until 50 eval '[[ "$(wm_state "$panel")" == Normal ]]'
result "a right click on the overlay restores the minimised panel" $?
xdotool windowactivate "$panel" 2>/dev/null
# "Exit" (2880,120 twips): the closing words stay for a second.
click "$panel" 272 24
sleep 0.3
shot 4-closing
wait "$program_pid"
rc=$?
program_pid=""
[[ $rc -eq 0 && ! -e "$program/lumidrop.pid" ]] && grep -q $'^AutoFade= 1\r$' "$program/lumidrop.ini" &&
  grep -q $'^CPWidth= [0-9]' "$program/lumidrop.ini"
result "\"Exit\" ends the program (exit $rc): marker gone, settings saved with the option and the panel's place" $?

# A second run, ended by closing the overlay through the window manager.
start_program second
result "a second start comes up" $?
wmctrl -i -c "$overlay"
timeout 20 tail --pid="$program_pid" -f /dev/null
wait "$program_pid"
rc=$?
program_pid=""
[[ $rc -eq 0 && ! -e "$program/lumidrop.pid" ]]
result "closing the overlay through the window manager closes the program down (exit $rc)" $?

echo "screenshots: $(cd "$shots" && ls | tr '\n' ' ')"
echo "lumidrop run took $(($(date +%s) - started)) s"
echo "lumidrop: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
