# Sourced by the wine runners: the pass and fail counts of a run and their
# lines ("PASS name" / "FAIL name"), and waiting for a condition.
passed=0
failed=0

# result NAME STATUS: counts STATUS 0 as a pass, anything else as a failure.
result() {
  if [[ $2 -eq 0 ]]; then
    passed=$((passed + 1))
    echo "PASS $1"
  else
    failed=$((failed + 1))
    echo "FAIL $1"
  fi
}

# until_true TENTHS COMMAND...: 0 once COMMAND succeeds within TENTHS tenths
# of a second.
until_true() {
  local tenths="$1" i
  shift
  for ((i = 0; i < tenths; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}
