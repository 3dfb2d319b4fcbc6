#!/usr/bin/env bash
# run-wine-tests.sh WIN64-TREE WIN32-TREE LINUX-BIN: runs the Windows
# build's test programs (WIN64-TREE/bin) under wine64 beside their peers on
# the Linux side, and checks the 32-bit DLL in WIN32-TREE. LINUX-BIN holds
# the Linux build's dsu-sim. The prefix lives in WIN64-TREE/wineprefix and
# one wineserver serves the whole run. Ends with "windows: N passed, M
# failed"; exit status 0 when nothing failed.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
top="$(cd "$here/../.." && pwd)"
win64="$(cd "$1" && pwd)" win32="$(cd "$2" && pwd)" linuxbin="$(cd "$3" && pwd)"
bin="$win64/bin"
export WINEPREFIX="$win64/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
unset DISPLAY
wine=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver
work="$win64/wine-work"
rm -rf "$work"
mkdir -p "$work"
drive_c="$WINEPREFIX/drive_c"
ports="$work/ports"  # links to pseudo-terminals, registered with wine as COM ports
echo_com=21 dsu_com=22 wire_com=23 session_com=24
peer_pids=()
. "$here/counting.sh"

cleanup() {
  for pid in "${peer_pids[@]}"; do kill "$pid" 2>/dev/null; done
  "$server" -k 2>/dev/null
}
trap cleanup EXIT

# Runs a test program under wine; its cases count one by one.
suite() {
  local name="$1" seconds="$2"
  shift 2
  local log="$work/$name.log" rc=0
  timeout "$seconds" "$wine" "$@" --gtest_color=no >"$log" 2>&1 || rc=$?
  local ok bad
  ok=$(sed -nE 's/^\[  PASSED  \] ([0-9]+) tests?.*/\1/p' "$log" | tail -1)
  bad=$(sed -nE 's/^\[  FAILED  \] ([0-9]+) tests?, listed below.*/\1/p' "$log" | tail -1)
  passed=$((passed + ${ok:-0}))
  failed=$((failed + ${bad:-0}))
  if [[ $rc -ne 0 ]]; then
    [[ -z "$bad" ]] && failed=$((failed + 1))
    echo "FAIL $name (exit $rc):"
    grep -E '^\[  FAILED  \]|Failure|error|Expected|Which is|actual' "$log" | head -40
  else
    echo "PASS $name: ${ok:-0} cases"
  fi
}

# Waits until a file exists; 0 when it came.
wait_file() {
  local i
  for ((i = 0; i < $2 * 20; i++)); do
    [[ -s "$1" ]] && return 0
    sleep 0.05
  done
  return 1
}

started=$(date +%s)
echo "--- the 32-bit DLL (built and checked, not run: no 32-bit execution here)"
check_args=("$win32/bin/telvaris.dll" "$win32/telvaris/libtelvaris_static.a" "$top/telvaris/telvaris.def"
  "$top/telvaris/include/telvaris.h")
bash "$here/check_exports.sh" "${check_args[@]}"
result "exports of the 32-bit DLL: the .def's names, undecorated, __stdcall" $?
bash "$here/check_exports.sh" --self-test "${check_args[@]}"
result "the export check fails on a lost __stdcall and on a .def the header disagrees with" $?

echo "--- wine64 prefix"
if [[ ! -d "$WINEPREFIX/drive_c" ]]; then
  "$wine" wineboot -i >/dev/null 2>&1
fi
# The DSU's port is listed by the system only when registered with wine.
for com in "$dsu_com" "$session_com"; do
  "$wine" reg add 'HKLM\Software\Wine\Ports' /v "COM$com" /d "$ports/dosdevices/com$com" /f >/dev/null 2>&1
done
"$server" -k 2>/dev/null
"$server" -w 2>/dev/null
"$server" -p </dev/null >/dev/null 2>&1
"$wine" cmd /c exit >/dev/null 2>&1  # the new server's first start
rm -rf "$drive_c/telvaris" "$drive_c/telvaris.log"
echo "prefix ready after $(($(date +%s) - started)) s"

echo "--- platform-neutral suites"
python3_oracle() {
  /usr/bin/python3 "$here/peers.py" oracle "$work/oracle.port" "$top/tests/dsp/oracle.py" &
  peer_pids+=($!)
  wait_file "$work/oracle.port" 10
}
python3_oracle
# One line each for what the Windows run leaves to the Linux runs:
echo "SKIP CoherenceExport.*: the export file is c:\\telvaris\\export\\coherence.csv here, not under a test root (WineFixedFiles checks drive C:)"
echo "SKIP FilterGenOracle.BesselTableMatchesAnIndependentWorking: runs a second Linux script by path; the other oracle cases reach scipy through peers.py"
TELVARIS_ORACLE_PORT="$(cat "$work/oracle.port")" suite test_dsp 900 "$bin/test_dsp.exe" \
  --gtest_filter='-CoherenceExport.*:FilterGenOracle.BesselTableMatchesAnIndependentWorking'
suite test_dsp_threads 120 "$bin/test_dsp_threads.exe" --gtest_repeat=20
suite test_units 120 "$bin/test_units.exe"

echo "--- serial layer over a pseudo-terminal served as COM$echo_com"
/usr/bin/python3 "$here/peers.py" echo "$WINEPREFIX/dosdevices/com$echo_com" >"$work/echo.ready" &
peer_pids+=($!)
wait_file "$work/echo.ready" 10
TLV_TEST_ECHO_COM=$echo_com suite serial 120 "$bin/test_wine.exe" --gtest_filter='WineSerial.*'

echo "--- MQTT link against mosquitto on loopback"
broker_port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\n' "$broker_port" >"$work/mosquitto.conf"
/usr/sbin/mosquitto -c "$work/mosquitto.conf" >"$work/mosquitto.log" 2>&1 &
peer_pids+=($!)
for _ in $(seq 100); do mosquitto_pub -p "$broker_port" -t telvaris/wine/probe -m x 2>/dev/null && break; sleep 0.1; done
mosquitto_pub -p "$broker_port" -r -t telvaris/wine/decision -m reward
timeout 120 mosquitto_sub -p "$broker_port" -t telvaris/wine/out -C 1 -N >"$work/mqtt.out" &
sub_pid=$!
sleep 0.5
TLV_TEST_BROKER_PORT=$broker_port suite mqtt 120 "$bin/test_wine.exe" --gtest_filter='WineMqtt.*'
wait "$sub_pid"
printf 'from wine\0!' | cmp -s - "$work/mqtt.out"
result "mosquitto_sub on Linux received the publish from wine byte for byte" $?
[[ -s "$drive_c/telvaris/MQTT.log" ]]
result "the MQTT log is c:\\telvaris\\MQTT.log in the prefix" $?

echo "--- datagrams to a loopback receiver on Linux"
/usr/bin/python3 "$here/peers.py" udp "$work/udp.port" "$work/datagram" 2 &
udp_pid=$!
wait_file "$work/udp.port" 10
TLV_TEST_UDP_PORT="$(cat "$work/udp.port")" suite datagrams 120 "$bin/test_wine.exe" --gtest_filter='WineDatagrams.*'
timeout 10 tail --pid="$udp_pid" -f /dev/null
# The OSC bundle as captured bytes: "#bundle ", time, 0, length 52, the
# pattern in 24 bytes, ",fffff" in 8, five big-endian values.
expected_osc_tail="000000342f74656c76617269732f77696e65000000000000000000002c666666666600003f800000c0490fdb000000007f7fffff00000001"
osc_hex="$(od -An -v -tx1 "$work/datagram.0" 2>/dev/null | tr -d ' \n')"
[[ "$(stat -c %s "$work/datagram.0" 2>/dev/null)" == 72 && "${osc_hex:0:16}" == "2362756e646c6520" &&
  "${osc_hex:24:8}" == "00000000" && "${osc_hex:32}" == "$expected_osc_tail" ]]
result "the OSC bundle from wine arrived on Linux as its 72 bytes" $?
printf '{address:"/lumi",args:[-12,123456,1023,1023]},' | cmp -s - "$work/datagram.1"
result "the JSON packet from wine arrived on Linux byte for byte" $?
cat "$work/datagram.0" "$work/datagram.1" 2>/dev/null | cmp -s - "$drive_c/telvaris/datagrams.bin"
result "the capture file c:\\telvaris\\datagrams.bin holds exactly what was received" $?

echo "--- fixed files on drive C: and the export list"
suite fixed_files 120 "$bin/test_wine.exe" --gtest_filter='WineFixedFiles.*'
grep -qE '^\[[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:]{8}\] - .*a line from wine' "$drive_c/telvaris.log"
result "the DSU log is c:\\telvaris.log in the prefix, time-stamped" $?
printf 'TlAPISetupCallBack\r\nCALLBACK!\r\n' | cmp -s - "$drive_c/telvaris/callback.txt"
result "the callback log is c:\\telvaris\\callback.txt in the prefix" $?
printf '    1.5000    2.2500   -3.0000100000.0000' | cmp -s - "$drive_c/telvaris/export/datachan.txt"
result "the amplitude export is c:\\telvaris\\export\\datachan.txt in the prefix" $?
TLV_TEST_DEF="Z:$top/telvaris/telvaris.def" suite exports64 120 "$bin/test_wine.exe" --gtest_filter='WineExports.*'

echo "--- the media layer: MCI strings and MIDI ports (no sound device here)"
suite media 120 "$bin/test_wine.exe" --gtest_filter='WineMedia.*'

echo "--- the shared block across two wine processes"
timeout 60 "$wine" "$bin/block_peer.exe" fresh >"$work/block-fresh.log" 2>&1
result "the first process finds the block all zero" $?
timeout 120 "$wine" "$bin/block_peer.exe" write 42 "Z:$work/block.done" >"$work/block-write.log" 2>&1 &
writer=$!
wait_file "$work/block-write.log" 60
timeout 60 "$wine" "$bin/block_peer.exe" read 42 >"$work/block-read.log" 2>&1
result "a second process reads what the first one wrote" $?
touch "$work/block.done"
wait "$writer"
result "the writing process ends normally" $?
timeout 60 "$wine" "$bin/block_peer.exe" fresh >"$work/block-fresh2.log" 2>&1
result "once no process has the DLL loaded, the next one finds the block zeroed" $?

echo "--- DSU link against dsu-sim on a pseudo-terminal served as COM$dsu_com"
"$linuxbin/dsu-sim" --root "$ports" --com "$dsu_com" --record "$work/dsu.record" >"$work/dsu-sim.log" 2>&1 &
peer_pids+=($!)
for _ in $(seq 100); do [[ -e "$ports/dosdevices/com$dsu_com" ]] && break; sleep 0.05; done
TLV_TEST_DSU_COM=$dsu_com suite dsu 180 "$bin/test_wine.exe" --gtest_filter='WineDsu.TheListing*'
sleep 0.5
# The scan (stop, start, stop once found), programDSU (stop, the command),
# SetDSUProtocol (its two frames).
printf '\002NO C\n\002RING\n\002NO C\n\002NO C\n\002W97102\n' >"$work/dsu.expected"
head -c "$(stat -c %s "$work/dsu.expected")" "$work/dsu.record" 2>/dev/null | cmp -s - "$work/dsu.expected" &&
  grep -qa "WA0008" "$work/dsu.record"
result "dsu-sim received the scan's signals and the commands byte for byte" $?

echo "--- DSU sessions against dsu-sim replaying packets written under wine, on COM$session_com and over TCP/IP"
# The simulator starts once the test has written its replay.
(
  wait_file "$work/replay.raw" 60 || exit 0
  exec "$linuxbin/dsu-sim" --root "$ports" --com "$session_com" --replay "$work/replay.raw" >"$work/dsu-sim-session.log" 2>&1
) &
peer_pids+=($!)
# And a TCP server streaming the same replay.
(
  wait_file "$work/replay.raw" 60 || exit 0
  exec "$linuxbin/dsu-sim" --tcp 0 --replay "$work/replay.raw" >"$work/dsu-sim-tcp.log" 2>&1
) &
peer_pids+=($!)
TLV_TEST_DSU_REPLAY="Z:$work/replay.raw" TLV_TEST_DSU_SIM_LOG="Z:$work/dsu-sim-session.log" \
  TLV_TEST_DSU_TCP_LOG="Z:$work/dsu-sim-tcp.log" TLV_TEST_DSU_SESSION_COM=$session_com \
  suite dsu_session 180 "$bin/test_wine.exe" --gtest_filter='WineDsu.ASession*'

echo "--- a host that loads the serial layer, starts a watcher and frees it"
/usr/bin/python3 "$here/peers.py" wire "$WINEPREFIX/dosdevices/com$wire_com" "$work/unload.trigger" >"$work/wire.ready" &
peer_pids+=($!)
wait_file "$work/wire.ready" 10
timeout 60 "$wine" "$bin/unload_host.exe" "$bin/serial_unload_probe.dll" $((wire_com - 1)) exit >"$work/unload-exit.log" 2>&1
host_rc=$?
[[ $host_rc -ne 0 ]] && cat "$work/unload-exit.log"
result "a host that ends with its watcher still waiting ends normally (exit $host_rc)" $host_rc
timeout 60 "$wine" "$bin/unload_host.exe" "$bin/serial_unload_probe.dll" $((wire_com - 1)) wake \
  "Z:$work/unload.trigger" >"$work/unload-wake.log" 2>&1
host_rc=$?
[[ $host_rc -ne 0 ]] && cat "$work/unload-wake.log"
result "the free returns under a waiting watcher, and the probe goes once its watcher ends (exit $host_rc)" $host_rc

echo "--- not run under wine, and why"
echo "SKIP test_dsp_memory, test_out_of_memory: they replace the global operator new, which code in the DLL does not call"
echo "SKIP test_comports, test_procyon, test_dsu_link, test_debug_log, test_transfer_mode, test_feedback_block, test_datagrams, test_mqtt_link, test_relay_service: their fixtures start Linux peers in-process; the WineSerial, WineDsu, WineMqtt, WineDatagrams and WineFixedFiles cases and the block processes above run against the same kinds of peers started here"
echo "SKIP the audio, window and tool suites: those programs are not built for Windows yet; the fading program runs in run-wine-lumidrop.sh"
echo "windows run took $(($(date +%s) - started)) s"
echo "windows: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
