#!/usr/bin/env bash
# build.sh DIR [SANITIZER [CMAKE-OPTION...]]: configures and builds the tree
# in DIR (SANITIZER: empty, address or thread) with two jobs; further
# options go to cmake as they are (-DTELVARIS_BUILD_TESTS=OFF, ...).
# Configuring is quiet (its log: DIR/configure.log, shown when it fails);
# ninja shows its progress and the compiler's errors.
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if [[ $# -lt 1 || "$1" == -h || "$1" == --help ]]; then
  awk 'NR == 1 { next } /^#/ { sub(/^# ?/, ""); print; next } { exit }' "${BASH_SOURCE[0]}"
  [[ $# -lt 1 ]] && exit 2
  exit 0
fi
dir="$1"
sanitize="${2:-}"
shift $(($# < 2 ? $# : 2))
mkdir -p "$dir"
echo "build.sh: configuring $dir"
if ! cmake -S "$top" -B "$dir" -G Ninja -DTELVARIS_SANITIZE="$sanitize" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" \
  >"$dir/configure.log" 2>&1; then
  echo "build.sh: configuring $dir failed:" >&2
  tail -n 30 "$dir/configure.log" >&2
  echo "build.sh: the whole log is $dir/configure.log" >&2
  exit 1
fi
echo "build.sh: building $dir with two jobs"
cmake --build "$dir" -j 2
