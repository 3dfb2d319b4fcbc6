#!/usr/bin/env bash
# fuzz.sh [--smoke SECONDS | --runs N | --minutes M] [TARGET...]: builds the
# libFuzzer targets (tests/fuzz, clang with AddressSanitizer and
# UndefinedBehaviorSanitizer, in build-fuzz/) and runs each in turn: first
# the inputs that once crashed it (tests/fuzz/TARGET/regressions), then the
# fuzzer from its seeds (tests/fuzz/TARGET/seeds) and the corpus it has
# grown so far (build-fuzz/corpus/TARGET).
#   --smoke SECONDS  each target this long from its seeds alone (the test
#                    command's short run)
#   --runs N         each target N executions
#   --minutes M      each target M minutes or 10 million executions,
#                    whichever comes first (the default: 20 minutes)
# Targets: settings_file feedback_decision filter_gen session_file
# transfer_mode mci_command dsu_sim_commands (all when none is named).
# Prints per target its executions, time, coverage (cov: edges, ft:
# features), corpus size and crashes; an input that crashes a target is
# kept in build-fuzz/artifacts/TARGET/. Exits non-zero when any target
# crashed or a regression input fails again.
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
all=(settings_file feedback_decision filter_gen session_file transfer_mode mci_command dsu_sim_commands)
limit=(-max_total_time=1200 -runs=10000000)
targets=()
smoke=
while [[ $# -gt 0 ]]; do
  case "$1" in
    -h|--help) awk 'NR == 1 { next } /^#/ { sub(/^# ?/, ""); print; next } { exit }' "${BASH_SOURCE[0]}"; exit 0 ;;
    --smoke) limit=(-max_total_time="${2:?--smoke takes seconds}"); smoke=yes; shift 2 ;;
    --runs) limit=(-runs="${2:?--runs takes a count}"); shift 2 ;;
    --minutes) limit=(-max_total_time=$((${2:?--minutes takes minutes} * 60)) -runs=10000000); shift 2 ;;
    -*) echo "fuzz.sh: unknown option '$1' (scripts/fuzz.sh --help)" >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done
[[ ${#targets[@]} -eq 0 ]] && targets=("${all[@]}")
for t in "${targets[@]}"; do
  [[ " ${all[*]} " == *" $t "* ]] || { echo "fuzz.sh: no target '$t'" >&2; exit 2; }
done

cd "$top"
build=build-fuzz
if [[ ! -f $build/build.ninja ]]; then
  mkdir -p $build
  echo "fuzz.sh: configuring $build"
  if ! cmake -S . -B $build -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DTELVARIS_FUZZ=ON \
    -DTELVARIS_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >$build/configure.log 2>&1; then
    tail -n 30 $build/configure.log >&2
    exit 1
  fi
fi
echo "fuzz.sh: building the fuzz targets with two jobs"
ninja -C $build -j 2 $(printf 'fuzz_%s ' "${targets[@]}") >$build/fuzz-build.log 2>&1 || { tail -n 40 $build/fuzz-build.log >&2; exit 1; }

# UBSan findings abort (the tree is built with -fno-sanitize-recover), so
# libFuzzer keeps their input like any crash's.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
# A smoke run starts from the seeds alone, into a scratch corpus, so that its
# few seconds stay a few seconds however large the grown corpus has become.
if [[ -n $smoke ]]; then
  smoke=$(mktemp -d)
  trap 'rm -rf "$smoke"' EXIT
fi
status=0
for t in "${targets[@]}"; do
  bin=$build/fuzz/fuzz_$t
  corpus=$build/corpus/$t
  [[ -n $smoke ]] && corpus=$smoke/$t
  artifacts=$build/artifacts/$t
  log=$build/fuzz-$t.log
  mkdir -p "$corpus" "$artifacts"
  regressions=(tests/fuzz/$t/regressions/*)
  if [[ -e ${regressions[0]} ]]; then
    if ! "$bin" "${regressions[@]}" >"$build/fuzz-$t-regressions.log" 2>&1; then
      echo "fuzz_$t: a regression input crashes again (log: $build/fuzz-$t-regressions.log)"
      status=1
      continue
    fi
  fi
  before=$(find "$artifacts" -type f | wc -l)
  start=$(date +%s)
  rc=0
  "$bin" "${limit[@]}" -print_final_stats=1 -timeout=10 -artifact_prefix="$artifacts/" "$corpus" "tests/fuzz/$t/seeds" \
    >"$log" 2>&1 || rc=$?
  seconds=$(($(date +%s) - start))
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  last=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
  cov=$(sed -nE 's/.* cov: ([0-9]+).*/\1/p' <<<"$last")
  ft=$(sed -nE 's/.* ft: ([0-9]+).*/\1/p' <<<"$last")
  files=$(find "$corpus" -type f | wc -l)
  crashes=$(($(find "$artifacts" -type f | wc -l) - before))
  echo "fuzz_$t: ${runs:-?} executions in ${seconds} s, cov: ${cov:-?} ft: ${ft:-?}, corpus: $files files," \
    "crashes: $crashes"
  if [[ $rc -ne 0 || $crashes -gt 0 ]]; then
    echo "fuzz_$t: FAILED (log: $log; inputs: $artifacts)"
    grep -E 'ERROR|SUMMARY|property broken|runtime error' "$log" | head -n 5 || true
    status=1
  fi
done
exit $status
