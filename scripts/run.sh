#!/usr/bin/env bash
# The main job: builds the library and shows what it offers on this machine.
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$top"
bash scripts/deps.sh build run
bash scripts/build.sh build-release "" >/dev/null
exec build-release/bin/telvaris-info "$@"
