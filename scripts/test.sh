#!/usr/bin/env bash
# The test command: installs what the tests need, then builds and runs the
# suite three times: plain, under AddressSanitizer with
# UndefinedBehaviorSanitizer, and the tests that start threads under
# ThreadSanitizer; a fourth run cross-builds the Windows DLLs and runs their
# tests under wine64; last, each libFuzzer target runs for a few seconds
# (scripts/fuzz.sh --smoke). Exits non-zero when any run fails.
#
# Usage: scripts/test.sh [-h | --help]
# It builds build/, build-asan/, build-tsan/, build-windows/ and build-fuzz/ with two
# jobs each: about 35 minutes from a fresh clone on two cores, tests included.
# Some tests alone: ctest --test-dir build -R PATTERN (see the README).
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
case "${1:-}" in
  "") ;;
  -h|--help) awk 'NR == 1 { next } /^#/ { sub(/^# ?/, ""); print; next } { exit }' "${BASH_SOURCE[0]}"; exit 0 ;;
  *) echo "test.sh: unknown option '$1' (scripts/test.sh --help)" >&2; exit 2 ;;
esac
cd "$top"
# The demo's test runs scripts/run.sh, so the main job's packages too.
bash scripts/deps.sh build test run

# A test that proves the same in every build and spends most of its time
# waiting runs in the plain build only: the MQTT link kept through 45 s of
# silence.
once_only='^MqttLink\.AnIdleLinkStaysConnected$'

passed=0
failed=0
run() {
  local name="$1" dir="$2" sanitize="$3"
  shift 3
  echo "=== $name build"
  if ! bash scripts/build.sh "$dir" "$sanitize"; then
    echo "=== $name build FAILED"
    failed=$((failed + 1))
    return 1
  fi
  echo "=== $name tests"
  check "$dir" -j 2 "$@"
}

# Runs ctest in a built tree and adds its counts to the totals.
check() {
  local dir="$1"
  shift
  local log="$dir/ctest-summary.log" rc=0
  ctest --test-dir "$dir" --output-on-failure --no-tests=error "$@" | tee "$log" || rc=1
  # "NN% tests passed, F tests failed out of T"
  local line total bad
  line=$(grep -E 'tests failed out of [0-9]+' "$log" | tail -n 1 || true)
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  bad=$(sed -E 's/.*passed, ([0-9]+) tests failed.*/\1/' <<<"$line")
  if [[ -n "$line" ]]; then
    passed=$((passed + total - bad))
    failed=$((failed + bad))
  elif [[ $rc -ne 0 ]]; then
    failed=$((failed + 1))
  fi
  return $rc
}

status=0
run plain build "" || status=1
run address+undefined build-asan address -E "$once_only" || status=1
# The tests that start threads of ours. The window tests start none: their
# only threads are Qt's own, which hand work over behind atomics in
# libraries not built with the sanitizer, where it cannot see them.
run thread build-tsan thread -L threads -E "$once_only" || status=1

# The Windows build: both DLLs cross-built with mingw-w64, the 32-bit one's
# exports checked, the test programs run under wine64 beside Linux-side
# peers (dsu-sim from the plain tree).
windows() {
  echo "=== windows build"
  if ! bash scripts/build-windows.sh --tests || ! cmake --build build -j 2 --target dsu-sim; then
    echo "=== windows build FAILED"
    failed=$((failed + 1))
    return 1
  fi
  echo "=== windows tests"
  local log=build-windows/wine-summary.log rc=0
  bash tests/windows/run-wine-tests.sh build-windows/x86_64 build-windows/i686 build/bin | tee "$log" || rc=1
  local line
  line=$(grep -E '^windows: [0-9]+ passed, [0-9]+ failed' "$log" | tail -n 1 || true)
  if [[ -n "$line" ]]; then
    passed=$((passed + $(sed -E 's/windows: ([0-9]+) passed.*/\1/' <<<"$line")))
    failed=$((failed + $(sed -E 's/.*passed, ([0-9]+) failed.*/\1/' <<<"$line")))
  elif [[ $rc -ne 0 ]]; then
    failed=$((failed + 1))
  fi
  # The fading program under wine on a private X server (about half a
  # minute).
  local lumidrop_log=build-windows/wine-lumidrop-summary.log lumidrop_rc=0
  bash tests/windows/run-wine-lumidrop.sh build-windows/x86_64 build-windows/i686 | tee "$lumidrop_log" ||
    lumidrop_rc=1
  line=$(grep -E '^lumidrop: [0-9]+ passed, [0-9]+ failed' "$lumidrop_log" | tail -n 1 || true)
  if [[ -n "$line" ]]; then
    passed=$((passed + $(sed -E 's/lumidrop: ([0-9]+) passed.*/\1/' <<<"$line")))
    failed=$((failed + $(sed -E 's/.*passed, ([0-9]+) failed.*/\1/' <<<"$line")))
  elif [[ $lumidrop_rc -ne 0 ]]; then
    failed=$((failed + 1))
  fi
  [[ $lumidrop_rc -eq 0 ]] || rc=1
  return $rc
}
windows || status=1

# The libFuzzer targets (clang, ASan+UBSan, build-fuzz/), a few seconds each
# from their seeds after the inputs that once crashed them.
fuzzsmoke() {
  echo "=== fuzz smoke"
  local log=build-fuzz/smoke-summary.log rc=0
  mkdir -p build-fuzz
  bash scripts/fuzz.sh --smoke 4 | tee "$log" || rc=1
  local ran bad
  ran=$(grep -cE '^fuzz_[a-z_]+: [0-9?]+ executions' "$log" || true)
  bad=$(grep -cE '^fuzz_[a-z_]+: (FAILED|a regression input)' "$log" || true)
  passed=$((passed + ran - $(grep -cE '^fuzz_[a-z_]+: FAILED' "$log" || true)))
  failed=$((failed + bad))
  [[ $rc -ne 0 && $bad -eq 0 ]] && failed=$((failed + 1))
  return $rc
}
fuzzsmoke || status=1
echo "all runs: $passed passed, $failed failed"
exit $status
