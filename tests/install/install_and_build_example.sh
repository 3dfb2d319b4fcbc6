#!/usr/bin/env bash
# Installs the build tree into a temporary prefix, builds the C example
# against it through CMake's package and through pkg-config, and runs both
# against the installed DSU simulator over TCP/IP, as a user of the
# installed library would.
#
# Usage: install_and_build_example.sh BUILD-DIR SOURCE-DIR
set -euo pipefail
build="$1"
source="$(cd "$2" && pwd)"
work="$(mktemp -d)"
sim=""
cleanup() {
  [[ -n "$sim" ]] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; fail "install"; }
libdir="$(dirname "$(find "$prefix" -name libtelvaris.so -print -quit)")"
for file in include/telvaris.h bin/dsu-sim bin/lumidropRemote bin/telvaris-info; do
  [[ -e "$prefix/$file" ]] || fail "$file not installed"
done
[[ -e "$libdir/pkgconfig/telvaris.pc" && -e "$libdir/cmake/telvaris/telvarisConfig.cmake" ]] ||
  fail "no pkg-config file or CMake package beside $libdir"

# The installed programs find the installed library.
export TELVARIS_ROOT="$work/root"
info="$("$prefix/bin/telvaris-info")"
grep -q "version 5.0.1" <<<"$info" || fail "telvaris-info said: $info"
"$prefix/bin/lumidropRemote" --version | grep -q "lumidropRemote" || fail "lumidropRemote --version"

# The example, built both ways.
cmake -S "$source/examples" -B "$work/by-cmake" -DCMAKE_PREFIX_PATH="$prefix" >"$work/cmake.log" 2>&1 ||
  { cat "$work/cmake.log"; fail "configuring the example"; }
cmake --build "$work/by-cmake" >>"$work/cmake.log" 2>&1 || { cat "$work/cmake.log"; fail "building with CMake"; }
PKG_CONFIG_PATH="$libdir/pkgconfig" make -s -C "$source/examples" -f Makefile \
  LDFLAGS="-Wl,-rpath,$libdir" acquire OUT="$work/by-pkg-config" >"$work/make.log" 2>&1 ||
  { cat "$work/make.log"; fail "building with pkg-config"; }

# Both acquire from the simulator for two seconds.
"$prefix/bin/dsu-sim" --tcp 0 >"$work/sim.log" 2>&1 &
sim=$!
port=""
for _ in $(seq 100); do
  port="$(sed -nE 's/.*ready on tcp 127\.0\.0\.1:([0-9]+).*/\1/p' "$work/sim.log")"
  [[ -n "$port" ]] && break
  sleep 0.1
done
[[ -n "$port" ]] || { cat "$work/sim.log"; fail "the simulator did not start"; }
for example in "$work/by-cmake/acquire" "$work/by-pkg-config"; do
  out="$("$example" 127.0.0.1 "$port" 2)" || { echo "$out"; fail "$example failed"; }
  echo "$out"
  grep -q "^telvaris 5.0.1$" <<<"$out" || fail "$example did not load the installed library"
  packets="$(sed -nE 's/^([0-9]+) packets in 2 s.*/\1/p' <<<"$out")"
  [[ -n "$packets" && "$packets" -gt 0 ]] || fail "$example took no packets"
done

# The Python package installed offline into a virtual environment over
# Debian's Python, and its example recording from the simulator.
# (From a copy: setuptools builds inside the folder it is given.)
cp -r "$source/python" "$work/python"
/usr/bin/python3 -m venv --system-site-packages "$work/venv"
"$work/venv/bin/pip" install -q --no-build-isolation --no-index "$work/python" >"$work/pip.log" 2>&1 ||
  { cat "$work/pip.log"; fail "pip install"; }
out="$(cd "$work" && TELVARIS_LIBRARY="$libdir/libtelvaris.so.5" "$work/venv/bin/python" \
  "$source/python/examples/record_and_plot.py" --tcp "127.0.0.1:$port" --seconds 1 --png "$work/plot.png")" ||
  { echo "$out"; fail "the Python example"; }
echo "$out"
grep -q "^telvaris 5.0.1$" <<<"$out" && [[ -s "$work/plot.png" ]] || fail "the Python example made no plot"
echo "PASS"
