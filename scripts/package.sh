#!/usr/bin/env bash
# Builds the Debian package of the library, the programs and their files:
# a release tree in build-package/ installed under /usr, packed by CPack
# into dist/telvaris_<version>_<arch>.deb, then checked with lintian (its
# errors fail the script; warnings are shown).
#
# Usage: scripts/package.sh [-h | --help]
# Install it with: sudo apt install ./dist/telvaris_5.0.1_amd64.deb
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
case "${1:-}" in
  "") ;;
  -h|--help) awk 'NR == 1 { next } /^#/ { sub(/^# ?/, ""); print; next } { exit }' "${BASH_SOURCE[0]}"; exit 0 ;;
  *) echo "package.sh: unknown option '$1' (scripts/package.sh --help)" >&2; exit 2 ;;
esac
cd "$top"
bash scripts/deps.sh build package
bash scripts/build.sh build-package "" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DTELVARIS_BUILD_TESTS=OFF
mkdir -p dist
(cd build-package && cpack -G DEB >cpack.log 2>&1) || { cat build-package/cpack.log; exit 1; }
deb="$(ls -t dist/telvaris_*.deb | head -n 1)"
echo "package.sh: $deb"
dpkg-deb --field "$deb" Package Version Architecture Depends
# Errors fail; the tags below are how this package is made on purpose: one
# package holds the library and its development files, and the library's
# name is not in the package's name.
lintian --fail-on error --suppress-tags \
  package-name-doesnt-match-sonames,link-to-shared-library-in-wrong-package \
  "$deb"
echo "package.sh: lintian found no errors"
