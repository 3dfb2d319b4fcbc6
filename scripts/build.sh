#!/usr/bin/env bash
# build.sh DIR [SANITIZER]: configures and builds the tree in DIR
# (SANITIZER: empty, address or thread) with two jobs.
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dir="$1"
sanitize="${2:-}"
cmake -S "$top" -B "$dir" -G Ninja -DTELVARIS_SANITIZE="$sanitize" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" -j 2
