#!/usr/bin/env bash
# Installs the Debian packages listed in scripts/packages-<set>.txt and
# scripts/packages-<set>-*.txt (one file a subsystem) for each set named on
# the command line (build, test, run). Quiet when nothing is missing; asks
# apt-get only for what is.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

wanted=()
for set in "$@"; do
  [[ -f "$here/packages-$set.txt" ]] || { echo "deps.sh: no package list packages-$set.txt" >&2; exit 2; }
  for list in "$here/packages-$set.txt" "$here"/packages-"$set"-*.txt; do
    [[ -f "$list" ]] || continue
    while read -r pkg _; do
      [[ -z "$pkg" || "$pkg" == \#* ]] && continue
      wanted+=("$pkg")
    done <"$list"
  done
done

missing=()
for pkg in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -ne 0 ]] && sudo=(sudo)
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
