#!/usr/bin/env bash
# build-windows.sh [--tests]: builds telvaris.dll and the fading program
# lumidropRemote.exe for 32-bit Windows (the platform of the library's
# callers) and for 64-bit Windows, each with the Paho MQTT C client built
# from its source release, checks the 32-bit DLL's exports, and packs
# dist/telvaris-<version>-win32.zip and -win64.zip.
# --tests also builds the test suites into the 64-bit tree, for the runs
# under wine64 (tests/windows/run-wine-tests.sh).
#
# Trees go to $TELVARIS_WINDOWS_BUILD (default build-windows/); Paho's
# tarball is $TELVARIS_PAHO_TARBALL (default: the shared third-party folder
# beside the checkout).
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
with_tests=OFF
[[ "${1:-}" == "--tests" ]] && with_tests=ON
out="${TELVARIS_WINDOWS_BUILD:-$top/build-windows}"
mkdir -p "$out"
out="$(cd "$out" && pwd)"

install_packages() {
  local wanted=() missing=() pkg list
  for list in "$top/scripts/packages-build.txt" "$top/scripts/packages-build-windows.txt" \
    "$top/scripts/packages-test-windows.txt"; do
    while read -r pkg _; do
      [[ -z "$pkg" || "$pkg" == \#* ]] || wanted+=("$pkg")
    done <"$list"
  done
  for pkg in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  [[ ${#missing[@]} -eq 0 ]] && return 0
  local sudo=()
  [[ $(id -u) -ne 0 ]] && sudo=(sudo)
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}
install_packages

tarball="${TELVARIS_PAHO_TARBALL:-}"
if [[ -z "$tarball" ]]; then
  for candidate in "$top/../shared/third_party" "$top/../../shared/third_party"; do
    [[ -f "$candidate/paho.mqtt.c-1.3.12.tar.gz" ]] && tarball="$candidate/paho.mqtt.c-1.3.12.tar.gz" && break
  done
fi
[[ -f "$tarball" ]] || { echo "build-windows.sh: no Paho source release (set TELVARIS_PAHO_TARBALL)" >&2; exit 2; }

version="$(sed -nE 's/^project\(telvaris VERSION ([0-9.]+).*/\1/p' "$top/CMakeLists.txt")"

# Paho's paho-mqtt3c.dll for one target, installed as include/, lib/, bin/.
# Its build names the system library RpcRT4, which mingw ships lower-case.
build_paho() {
  local arch="$1" triplet="$2"
  local install="$out/paho-$arch"
  [[ -f "$install/bin/paho-mqtt3c.dll" && "$install/.source" -nt "$tarball" ]] && return 0
  rm -rf "$out/paho-src" "$out/paho-$arch-build" "$install"
  mkdir -p "$out/paho-src" "$out/paho-$arch-build/syslibs" "$install"/{bin,lib,include}
  tar -xzf "$tarball" -C "$out/paho-src" --strip-components=1
  ln -sf "/usr/$triplet/lib/librpcrt4.a" "$out/paho-$arch-build/syslibs/libRpcRT4.a"
  cmake -S "$out/paho-src" -B "$out/paho-$arch-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-mingw-w64-$arch.cmake" \
    -DCMAKE_PROJECT_INCLUDE="$top/cmake/PahoWindowsNames.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DPAHO_WITH_SSL=OFF -DPAHO_BUILD_SAMPLES=OFF -DPAHO_ENABLE_TESTING=OFF \
    -DPAHO_BUILD_STATIC=OFF -DPAHO_BUILD_SHARED=ON \
    -DCMAKE_SHARED_LINKER_FLAGS="-L$out/paho-$arch-build/syslibs -static-libgcc" >/dev/null
  cmake --build "$out/paho-$arch-build" -j 2 --target paho-mqtt3c >/dev/null
  cp "$out/paho-$arch-build/src/paho-mqtt3c.dll" "$install/bin/"
  cp "$out/paho-$arch-build/src/libpaho-mqtt3c.dll.a" "$install/lib/"
  cp "$out"/paho-src/src/{MQTTClient.h,MQTTClientPersistence.h,MQTTProperties.h,MQTTReasonCodes.h} "$install/include/"
  cp "$out"/paho-src/src/{MQTTSubscribeOpts.h,MQTTExportDeclarations.h,MQTTAsync.h} "$install/include/"
  cp "$out"/paho-src/{epl-v20,edl-v10,about.html} "$install/"
  touch "$install/.source"
}

# telvaris.dll for one target.
build_library() {
  local arch="$1" tests="$2"
  shift 2
  cmake -S "$top/cmake/windows" -B "$out/$arch" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-mingw-w64-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DTELVARIS_PAHO_DIR="$out/paho-$arch" -DTELVARIS_BUILD_TESTS="$tests" "$@" >/dev/null
  cmake --build "$out/$arch" -j 2 "${targets[@]}"
}

echo "=== Paho C for Windows"
build_paho i686 i686-w64-mingw32
build_paho x86_64 x86_64-w64-mingw32

echo "=== telvaris.dll and lumidropRemote.exe, 32-bit"
targets=(--target telvaris telvaris_static lumidropRemote)
build_library i686 OFF
echo "=== export check of the 32-bit DLL"
bash "$top/tests/windows/check_exports.sh" --write-def "$out/i686/telvaris-decorated.def" \
  "$out/i686/bin/telvaris.dll" "$out/i686/telvaris/libtelvaris_static.a" \
  "$top/telvaris/telvaris.def" "$top/telvaris/include/telvaris.h"
# An import library that C and C++ callers link with: the decorated names
# their compilers ask for, imported by the undecorated names the DLL has.
i686-w64-mingw32-dlltool -k -d "$out/i686/telvaris-decorated.def" -D telvaris.dll -l "$out/i686/telvaris.lib"
# A C caller links with it (its calls ask for the "_Name@N" of __stdcall)
# and imports the DLL's own names.
printf '%s\n' '#include "telvaris.h"' 'int main(void) {' '  int32_t channels[32], counter = 0;' \
  '  return GetSystemStatus(0) + GetP3Data(channels, 32, 0, &counter, 0) + BatteryStatus();' '}' \
  >"$out/i686/import-check.c"
i686-w64-mingw32-gcc -std=c99 -Wall -Werror -I"$top/telvaris/include" "$out/i686/import-check.c" "$out/i686/telvaris.lib" \
  -o "$out/i686/import-check.exe"
imported="$(i686-w64-mingw32-objdump -p "$out/i686/import-check.exe" |
  awk '/DLL Name: / { dll = $3 } dll == "telvaris.dll" && NF == 3 && $2 ~ /^[0-9]+$/ { print $3 }' | sort | tr '\n' ' ')"
if [[ "$imported" != "BatteryStatus GetP3Data GetSystemStatus " ]]; then
  echo "build-windows.sh: a C caller linked with telvaris.lib imports '$imported' from telvaris.dll" >&2
  exit 1
fi
echo "telvaris.lib: a C caller links and imports BatteryStatus, GetP3Data, GetSystemStatus from telvaris.dll"
# The fading program binds telvaris.dll at run time, by file name: a
# program that imported it would not start without it beside it.
if i686-w64-mingw32-objdump -p "$out/i686/bin/lumidropRemote.exe" | grep -qi $'^\tDLL Name: telvaris.dll'; then
  echo "build-windows.sh: lumidropRemote.exe imports telvaris.dll" >&2
  exit 1
fi

echo "=== telvaris.dll and lumidropRemote.exe, 64-bit"
targets=()
[[ $with_tests == OFF ]] && targets=(--target telvaris lumidropRemote)
build_library x86_64 "$with_tests" -DTELVARIS_WIN32_TREE="$out/i686"
cp "$out/x86_64/telvaris/telvaris.dll.a" "$out/x86_64/telvaris.lib"

echo "=== packages"
mkdir -p "$top/dist"
for arch in i686 x86_64; do
  case $arch in i686) tag=win32 ;; *) tag=win64 ;; esac
  stage="$out/stage-$tag/telvaris-$version-$tag"
  rm -rf "$out/stage-$tag"
  mkdir -p "$stage/licences"
  cp "$out/$arch/bin/telvaris.dll" "$out/paho-$arch/bin/paho-mqtt3c.dll" "$out/$arch/telvaris.lib" "$stage/"
  cp "$out/$arch/bin/lumidropRemote.exe" "$stage/"
  "$arch-w64-mingw32-strip" --strip-unneeded "$stage/telvaris.dll" "$stage/paho-mqtt3c.dll" "$stage/lumidropRemote.exe"
  cp "$top/telvaris/include/telvaris.h" "$top/telvaris/telvaris.def" "$stage/"
  sed "s/@VERSION@/$version/g; s/@TAG@/$tag/g" "$top/cmake/windows/README.txt" | sed 's/$/\r/' >"$stage/README.txt"
  cp "$out/paho-$arch/epl-v20" "$stage/licences/paho-epl-v20.txt"
  cp "$out/paho-$arch/edl-v10" "$stage/licences/paho-edl-v10.txt"
  cp /usr/share/doc/gcc-mingw-w64-base/copyright "$stage/licences/gcc-runtime.txt"
  cp /usr/share/doc/mingw-w64-common/copyright "$stage/licences/mingw-w64-runtime.txt"
  (cd "$out/stage-$tag" && rm -f "$top/dist/telvaris-$version-$tag.zip" && zip -qr "$top/dist/telvaris-$version-$tag.zip" .)
  echo "dist/telvaris-$version-$tag.zip:"
  unzip -l "$top/dist/telvaris-$version-$tag.zip" | sed -n '4,$p' | grep -v -- '---' | sed '$d' | awk '{print "  " $4 "  (" $1 " bytes)"}'
  for dll in telvaris.dll paho-mqtt3c.dll lumidropRemote.exe; do
    echo "  $dll ($tag) imports: $("$arch-w64-mingw32-objdump" -p "$stage/$dll" | sed -n 's/^\tDLL Name: //p' | tr '\n' ' ')"
  done
done
