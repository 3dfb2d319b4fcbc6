#!/usr/bin/env bash
# Installs dist/telvaris_<version>_amd64.deb (scripts/package.sh) into a
# clean Debian 12 root made with debootstrap, as root, and runs the
# programs and the Python example there as an ordinary user. Needs the
# network to reach Debian's mirror; takes some minutes the first time (the
# root is kept in ROOT-DIR and reused).
#
# Usage: scripts/check-package.sh [ROOT-DIR]   (default /var/tmp/telvaris-cleanroot)
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
root="${1:-/var/tmp/telvaris-cleanroot}"
[[ "${1:-}" == -h || "${1:-}" == --help ]] &&
  { awk 'NR == 1 { next } /^#/ { sub(/^# ?/, ""); print; next } { exit }' "${BASH_SOURCE[0]}"; exit 0; }
deb="$(ls -t "$top"/dist/telvaris_*_amd64.deb 2>/dev/null | head -n 1)"
[[ -n "$deb" ]] || { echo "check-package.sh: no package in dist/ (scripts/package.sh)" >&2; exit 1; }
[[ $(id -u) -eq 0 ]] || { echo "check-package.sh: needs root (debootstrap, chroot)" >&2; exit 1; }
command -v debootstrap >/dev/null || apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
if [[ ! -x "$root/usr/bin/apt-get" ]]; then
  echo "check-package.sh: making a clean Debian 12 root in $root"
  debootstrap --variant=minbase bookworm "$root" http://deb.debian.org/debian >"$root.log" 2>&1 ||
    { tail -n 20 "$root.log"; exit 1; }
fi
cp /etc/resolv.conf "$root/etc/"
mountpoint -q "$root/proc" || mount -t proc proc "$root/proc"
trap 'umount "$root/proc" 2>/dev/null || true' EXIT
cp "$deb" "$root/tmp/telvaris.deb"
rm -rf "$root/tmp/python" && cp -r "$top/python" "$root/tmp/python"
chroot "$root" sh -ec '
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq /tmp/telvaris.deb >/dev/null
  apt-get install -y -qq --no-install-recommends python3-venv python3-pip python3-setuptools python3-wheel \
    python3-numpy python3-matplotlib >/dev/null
  id trainee >/dev/null 2>&1 || useradd -m trainee'
chroot "$root" su trainee -c 'set -e; cd ~
  lumidropRemote --version
  dsu-sim --help | head -n 3
  telvaris-info
  rm -rf py env && cp -r /tmp/python py
  /usr/bin/python3 -m venv --system-site-packages env
  env/bin/pip install -q --no-build-isolation --no-index ./py
  dsu-sim --tcp 5123 >sim.log 2>&1 & sim=$!
  sleep 1
  env/bin/python py/examples/record_and_plot.py --tcp 127.0.0.1:5123 --seconds 3 --png plot.png
  kill $sim'
echo "check-package.sh: the package works in $root (plot: $root/home/trainee/plot.png)"
