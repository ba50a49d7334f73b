#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# No binary the build makes searches the current folder or a relative path for its libraries:
#   runpath BUILD:        every ELF file under BUILD has no RPATH or RUNPATH entry that is empty
#                         (the current folder) or relative
#   planted CC PROGRAM..: each program, started in a folder that holds a library named like one it
#                         loads, does not load that library
# usage: search_path_test.sh runpath BUILD | planted CC PROGRAM...
set -euo pipefail
source "$(dirname "$0")/../support/holds.sh"
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

check_runpath() {
    local build=$1 file entries entry count=0
    while IFS= read -r -d '' file; do
        [[ $(head -c 4 "$file" | od -An -c | tr -d ' ') == 177ELF ]] || continue
        count=$((count + 1))
        entries=$(readelf -d "$file" | sed -n 's/.*(R\(UN\)\{0,1\}PATH).*\[\(.*\)\]$/\2/p')
        [[ -z $entries ]] && continue
        while IFS= read -r entry; do
            [[ $entry == /* ]] || fail "$file searches '${entry}' (runpath [$entries])"
        done < <(tr ':' '\n' <<<"$entries")
    done < <(find "$build" -type f -perm -u+x -print0)
    ((count > 0)) || fail "no binary found under $build"
    echo "runpath ok: $count binaries, none with an empty or relative entry"
}

check_planted() {
    local cc=$1
    shift
    local work
    work=$(mktemp -d "${TMPDIR:-/tmp}/rundelt_planted.XXXXXX")
    trap 'rm -rf "$work"' RETURN
    # Named like the seam finder's FFTW library, which both programs load; it leaves a mark when
    # it is loaded.
    cat >"$work/planted.c" <<C
#include <stdio.h>
__attribute__((constructor)) static void Planted(void) {
    FILE* mark = fopen("$work/loaded", "w");
    if (mark) fclose(mark);
}
C
    "$cc" -shared -fPIC -o "$work/libfftw3f.so.3" "$work/planted.c" || fail "cannot build the planted library"
    local program
    for program in "$@"; do
        ldd "$program" | holds 'libfftw3f\.so\.3' || fail "$program does not load libfftw3f.so.3"
        # The window stops at once without a usable platform; its libraries are loaded before.
        (cd "$work" && QT_QPA_PLATFORM=none timeout 20 "$program" --help) >/dev/null 2>&1 || true
        [[ ! -e $work/loaded ]] || fail "$program loaded the library planted in its working folder"
    done
    echo "planted library ok: not loaded by $#"
}

case ${1:-} in
    runpath) check_runpath "$2" ;;
    planted) shift; check_planted "$@" ;;
    *) echo "usage: $0 runpath BUILD | planted CC PROGRAM..." >&2; exit 2 ;;
esac
