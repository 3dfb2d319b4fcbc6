#!/usr/bin/env bash
# Builds the benchmarks in build-bench/ and runs each one (or those named;
# the soaks, soak_*, only when named).
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$top"
bash scripts/deps.sh build test bench
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTELVARIS_BUILD_BENCH=ON >/dev/null
cmake --build build-bench -j 2
for b in build-bench/bin/bench_* build-bench/bin/soak_*; do
  name=$(basename "$b")
  if [[ $# -gt 0 ]] && ! printf '%s\n' "$@" | grep -qx "$name"; then continue; fi
  if [[ $# -eq 0 && $name == soak_* ]]; then continue; fi
  echo "=== $name"
  # The window benchmarks want a display; without one they get a private one.
  if [[ -z "${DISPLAY:-}" ]] && command -v xvfb-run >/dev/null; then
    xvfb-run -a "$b"
  else
    "$b"
  fi
done
