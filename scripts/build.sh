#!/usr/bin/env bash
# build.sh DIR [SANITIZER [CMAKE-OPTION...]]: configures and builds the tree
# in DIR (SANITIZER: empty, address or thread) with two jobs; further
# options go to cmake as they are (-DTELVARIS_BUILD_TESTS=OFF, ...).
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dir="$1"
sanitize="${2:-}"
shift $(($# < 2 ? $# : 2))
cmake -S "$top" -B "$dir" -G Ninja -DTELVARIS_SANITIZE="$sanitize" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$dir" -j 2
