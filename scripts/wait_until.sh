# Sourced by the scripts that start programs and wait for them (run.sh, the
# wine test runners).

# wait_until TENTHS COMMAND...: 0 once COMMAND succeeds within TENTHS tenths
# of a second, else 1.
wait_until() {
  local tenths="$1" i
  shift
  for ((i = 0; i < tenths; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}
