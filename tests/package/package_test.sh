#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The installed tree and the Debian package, seen from outside as a user's system sees them.
#   install BUILD: `cmake --install` into a temporary prefix holds exactly the programs (without
#                  a library search path of their own), the desktop entry (which
#                  desktop-file-validate accepts), the icon and the manual page, and the
#                  installed rundelt-cli runs.
#   deb BUILD:     `cpack -G DEB` makes a package with the same files under /usr and dependencies
#                  worked out from the binaries, plus the window's fonts and Qt's platform plugins.
# usage: package_test.sh install|deb BUILD
set -euo pipefail
(($# == 2)) || { echo "usage: $0 install|deb BUILD" >&2; exit 2; }
mode=$1 build=$2

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Every file the install puts down, relative to the prefix.
expected_files="bin/rundelt
bin/rundelt-cli
share/applications/rundelt.desktop
share/icons/hicolor/scalable/apps/rundelt.svg
share/man/man1/rundelt-cli.1.gz"

work=$(mktemp -d "${TMPDIR:-/tmp}/rundelt_package.XXXXXX")
trap 'rm -rf "$work"' EXIT

check_install() {
    local prefix=$work/prefix
    cmake --install "$build" --prefix "$prefix" >"$work/install.log" ||
        { cat "$work/install.log" >&2; fail "cmake --install failed"; }
    local files
    files=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
    [[ $files == "$expected_files" ]] ||
        fail "installed files differ:$(diff <(echo "$expected_files") <(echo "$files") | sed 's/^/  /')"
    for program in rundelt rundelt-cli; do
        [[ -x $prefix/bin/$program ]] || fail "bin/$program is not executable"
        # Installed programs search only the system's folders for their libraries.
        ! readelf -d "$prefix/bin/$program" | grep -q -E '\((RPATH|RUNPATH)\)' ||
            fail "bin/$program has a library search path: $(readelf -d "$prefix/bin/$program" | grep -E 'R(UN)?PATH')"
    done
    "$prefix/bin/rundelt-cli" --help | grep -q "rundelt-cli save" || fail "the installed rundelt-cli does not run"

    local entry=$prefix/share/applications/rundelt.desktop
    desktop-file-validate "$entry" || fail "desktop-file-validate refuses the entry"
    local key value
    while IFS='=' read -r key value; do
        [[ $(grep -m1 "^$key=" "$entry" | cut -d= -f2-) == "$value" ]] || fail "the entry's $key is not '$value'"
    done <<'EOF'
Name=Rundelt
Exec=rundelt %f
Icon=rundelt
MimeType=audio/x-wav;audio/wav;audio/vnd.wave;
Categories=AudioVideo;Audio;
EOF
    grep -q '^Name\[ja\]=.' "$entry" || fail "the entry has no Japanese name"

    /usr/bin/python3 -c 'import sys, xml.etree.ElementTree as E; sys.exit(E.parse(sys.argv[1]).getroot().tag != "{http://www.w3.org/2000/svg}svg")' \
        "$prefix/share/icons/hicolor/scalable/apps/rundelt.svg" || fail "the icon is not an SVG image"

    local warnings
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$prefix/share/man/man1/rundelt-cli.1.gz" 2>&1 >"$work/man.txt") ||
        fail "man cannot show the page"
    [[ -z $warnings ]] || fail "the manual page has warnings: $warnings"
    grep -q -- "--smpl" "$work/man.txt" || fail "the manual page does not describe --smpl"
    echo "install tree ok: $(echo "$expected_files" | wc -l) files"
}

check_deb() {
    cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
        { cat "$work/cpack.log" >&2; fail "cpack failed"; }
    local debs=("$work"/out/rundelt_*.deb)
    ((${#debs[@]} == 1)) && [[ -f ${debs[0]} ]] || fail "cpack made no single rundelt_*.deb: $(ls "$work/out")"
    local deb=${debs[0]}

    local files
    files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./usr/||' | LC_ALL=C sort)
    [[ $files == "$expected_files" ]] ||
        fail "packaged files differ:$(diff <(echo "$expected_files") <(echo "$files") | sed 's/^/  /')"

    dpkg-deb -x "$deb" "$work/root"
    "$work/root/usr/bin/rundelt-cli" --help | grep -q "rundelt-cli save" || fail "the packaged rundelt-cli does not run"

    [[ $(dpkg-deb -f "$deb" Package) == rundelt ]] || fail "package name"
    [[ $(dpkg-deb -f "$deb" Version) == 1.0 ]] || fail "version $(dpkg-deb -f "$deb" Version)"
    [[ $(dpkg-deb -f "$deb" Architecture) == "$(dpkg --print-architecture)" ]] || fail "architecture"
    local depends
    depends=$(dpkg-deb -f "$deb" Depends)
    # Worked out from the binaries (each with a version), and the two named by hand.
    local wanted
    for wanted in 'libc6 (>=' 'libstdc++6 (>=' 'libqt6core6 (>=' 'libqt6gui6 (>=' 'libqt6widgets6 (>=' \
        'libsdl2-2.0-0 (>=' 'libfftw3-single3 (>=' 'fonts-ipafont-gothic | fonts-noto-cjk' 'qt6-qpa-plugins'; do
        [[ $depends == *"$wanted"* ]] || fail "Depends lacks '$wanted': $depends"
    done
    echo "package ok: $(basename "$deb"), $(stat -c %s "$deb") bytes, installed size $(dpkg-deb -f "$deb" Installed-Size) KiB"
    echo "Depends: $depends"
}

case $mode in
    install) check_install ;;
    deb) check_deb ;;
    *) fail "unknown mode $mode" ;;
esac
