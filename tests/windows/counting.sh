# Sourced by the wine runners: the pass and fail counts of a run and their
# lines ("PASS name" / "FAIL name"), and waiting for a condition
# (wait_until).
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

. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wait_until.sh"
