#!/usr/bin/env bash
# check_exports.sh DLL ARCHIVE DEF HEADER: checks the 32-bit telvaris.dll that
# the library's callers load.
#   - the DLL exports exactly the names of the .def file, undecorated;
#   - telvaris.h declares exactly those names;
#   - each is __stdcall in the header: the compiler decorates a reference to
#     it as Name@N, N the bytes of its arguments;
#   - the library's objects (ARCHIVE, the same objects the DLL is linked
#     from) define each one as the same Name@N: same convention, same
#     argument sizes.
# With --write-def FILE it also writes the decorated names ("Name@N") as a
# .def for an import library. Exit status 0 when all holds.
# check_exports.sh --self-test DLL ARCHIVE DEF HEADER: the check must fail
# on a header that lost one __stdcall, a .def with a name too many and one
# with a name too few.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cross=i686-w64-mingw32

if [[ "${1:-}" == "--self-test" ]]; then
  shift
  dll="$1" archive="$2" def="$3" header="$4"
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT
  status=0
  expect_failure() {
    local what="$1"
    shift
    if bash "$here/check_exports.sh" "$@" >"$work/out" 2>&1; then
      echo "FAILED: the check passed $what"
      status=1
    else
      echo "ok: the check fails $what: $(grep -m1 -E '^(export|header|stdcall|objects)' "$work/out" || true)"
    fi
  }
  if ! bash "$here/check_exports.sh" "$dll" "$archive" "$def" "$header" >"$work/out" 2>&1; then
    cat "$work/out"
    echo "FAILED: the check does not pass on the real files"
    exit 1
  fi
  mkdir -p "$work/include"
  # The first declaration that names the calling convention loses it.
  awk '!done && /TLV_API.*TLV_CALL/ { sub(/TLV_CALL /, ""); done = 1 } { print }' "$header" >"$work/include/telvaris.h"
  expect_failure "when a declaration lost __stdcall" "$dll" "$archive" "$def" "$work/include/telvaris.h"
  { cat "$def"; echo "    NotInTheLibrary"; } >"$work/extra.def"
  expect_failure "on a .def with a name the header and the DLL lack" "$dll" "$archive" "$work/extra.def" "$header"
  awk '/^EXPORTS/ { print; skip = 1; next } skip && /^[ \t]+[A-Za-z]/ { skip = 0; next } { print }' "$def" >"$work/fewer.def"
  expect_failure "on a .def that lacks a name" "$dll" "$archive" "$work/fewer.def" "$header"
  exit $status
fi

write_def=""
if [[ "${1:-}" == "--write-def" ]]; then
  write_def="$2"
  shift 2
fi
dll="$1" archive="$2" def="$3" header="$4"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failed=0
fail() {
  echo "$*"
  failed=1
}

# The names of the .def file's EXPORTS section.
awk '/^EXPORTS/ { on = 1; next } on && /^[ \t]*[A-Za-z_]/ { print $1 }' "$def" | sort >"$work/def"
# The names in the DLL's export table.
"$cross-objdump" -p "$dll" |
  awk '/^\[Ordinal\/Name Pointer\] Table/ { on = 1; next } on && /^$/ { on = 0 } on { print $NF }' | sort >"$work/dll"
# The names the header declares with TLV_API: the identifier before "(".
sed -nE 's/^[ \t]*TLV_API[^(]*[^A-Za-z0-9_(]([A-Za-z_][A-Za-z0-9_]*)[ \t]*\(.*/\1/p' "$header" | sort >"$work/header"

[[ -s "$work/def" ]] || fail "export list: no names in $def"
if ! diff "$work/def" "$work/dll" >"$work/diff"; then
  fail "export table differs from the .def (< .def only, > DLL only):"
  cat "$work/diff"
fi
if grep -q '@' "$work/dll"; then fail "export table: decorated names: $(grep '@' "$work/dll" | tr '\n' ' ')"; fi
if ! diff "$work/def" "$work/header" >"$work/diff"; then
  fail "header and .def disagree (< .def only, > header only):"
  cat "$work/diff"
fi

# What the header makes of each name: a reference through the header is
# decorated by the compiler from the declaration's convention and arguments.
{
  echo '#include "telvaris.h"'
  echo 'void* const tl_exports[] = {'
  comm -12 "$work/def" "$work/header" | sed 's/.*/  (void*)\&&,/'
  echo '};'
} >"$work/probe.c"
if ! "$cross-gcc" -c -I"$(dirname "$header")" "$work/probe.c" -o "$work/probe.o" 2>"$work/cc"; then
  fail "header: the probe does not compile:"
  cat "$work/cc"
fi
if [[ -f "$work/probe.o" ]]; then
  "$cross-nm" "$work/probe.o" | sed -nE 's/^ +U (__imp_)?_(.*)$/\2/p' | sort >"$work/implied"
  while read -r name; do
    [[ "$name" == *@* ]] || fail "stdcall: $name is not __stdcall in the header (referenced as _$name)"
  done <"$work/implied"
  # The definitions in the library's objects.
  "$cross-nm" --defined-only "$archive" 2>/dev/null | sed -nE 's/^[0-9a-f]+ T _([A-Za-z_][A-Za-z0-9_]*(@[0-9]+)?)$/\1/p' |
    sort -u >"$work/defined"
  while read -r name; do
    base="${name%@*}"
    grep -qx -- "$name" "$work/defined" && continue
    other="$(grep -E "^${base}(@[0-9]+)?$" "$work/defined" | head -1 || true)"
    fail "objects: $base is defined as ${other:-nothing}, the header implies $name"
  done <"$work/implied"
  [[ -n "$write_def" && $failed -eq 0 ]] && { echo "LIBRARY telvaris.dll"; echo "EXPORTS"; sed 's/^/    /' "$work/implied"; } >"$write_def"
fi

if [[ $failed -eq 0 ]]; then
  echo "$(wc -l <"$work/def") exports: undecorated in the DLL, as in the .def and the header, all __stdcall with the argument sizes the header implies"
fi
exit $failed
