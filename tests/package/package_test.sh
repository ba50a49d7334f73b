#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The installed tree and the Debian package, seen from outside as a user's system sees them.
#   install BUILD: `cmake --install` into a temporary prefix holds exactly the programs (without
#                  a library search path of their own), the desktop entry (which
#                  desktop-file-validate accepts), the icon, the AppStream metadata (which
#                  appstreamcli accepts), the licence and both manual pages; the installed
#                  programs run and give their version.
#   deb BUILD:     `cpack -G DEB`, with a maintainer set as a publisher sets one, makes a package
#                  with the same files under /usr and the changelog, dependencies worked out from
#                  the binaries plus the window's fonts, that lintian --pedantic passes without an
#                  error or a warning, and that is the same bytes when it is made again.
set -euo pipefail
source "$(dirname "$0")/../support/holds.sh"
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
share/doc/rundelt/copyright
share/icons/hicolor/scalable/apps/rundelt.svg
share/man/man1/rundelt-cli.1.gz
share/man/man1/rundelt.1.gz
share/metainfo/org.rundelt.rundelt.metainfo.xml"
# The package adds its changelog, signed by its maintainer.
packaged_files=$(printf '%s\nshare/doc/rundelt/changelog.gz' "$expected_files" | LC_ALL=C sort)
version=$(sed -n 's/^project(Rundelt VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../../CMakeLists.txt")

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
        ! readelf -d "$prefix/bin/$program" | holds -E '\((RPATH|RUNPATH)\)' ||
            fail "bin/$program has a library search path: $(readelf -d "$prefix/bin/$program" | grep -E 'R(UN)?PATH')"
    done
    "$prefix/bin/rundelt-cli" --help | holds "rundelt-cli save" || fail "the installed rundelt-cli does not run"
    for program in rundelt rundelt-cli; do
        [[ $("$prefix/bin/$program" --version) == "$program $version" ]] ||
            fail "$program --version says '$("$prefix/bin/$program" --version)', not '$program $version'"
    done

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
StartupWMClass=rundelt
EOF
    grep -q '^Name\[ja\]=.' "$entry" || fail "the entry has no Japanese name"

    /usr/bin/python3 -c 'import sys, xml.etree.ElementTree as E; sys.exit(E.parse(sys.argv[1]).getroot().tag != "{http://www.w3.org/2000/svg}svg")' \
        "$prefix/share/icons/hicolor/scalable/apps/rundelt.svg" || fail "the icon is not an SVG image"

    appstreamcli validate --no-net "$prefix/share/metainfo/org.rundelt.rundelt.metainfo.xml" >"$work/appstream.log" ||
        { cat "$work/appstream.log" >&2; fail "appstreamcli refuses the metainfo file"; }
    head -n 1 "$prefix/share/doc/rundelt/copyright" | holds '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/$' ||
        fail "the copyright file is not in the machine-readable format"

    # Each page shows without a warning, names its version and describes what it must.
    local page described warnings
    while read -r page described; do
        warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$prefix/share/man/man1/$page.1.gz" 2>&1 >"$work/man.txt") ||
            fail "man cannot show $page(1)"
        [[ -z $warnings ]] || fail "$page(1) has warnings: $warnings"
        grep -q -- "Rundelt $version" "$work/man.txt" || fail "$page(1) does not name version $version"
        grep -q -- "$described" "$work/man.txt" || fail "$page(1) does not describe $described"
    done <<'EOF'
rundelt-cli --smpl
rundelt Ctrl+F
EOF
    echo "install tree ok: $(echo "$expected_files" | wc -l) files"
}

# Makes the package into folder $1 as a publisher would, with a maintainer of their own, and
# prints its path.
make_deb() {
    cpack -G DEB --config "$build/CPackConfig.cmake" -B "$1" \
        -D "CPACK_DEBIAN_PACKAGE_MAINTAINER=Rundelt Packager <packager@example.org>" >"$work/cpack.log" 2>&1 ||
        { cat "$work/cpack.log" >&2; fail "cpack failed"; }
    local debs=("$1"/rundelt_*.deb)
    ((${#debs[@]} == 1)) && [[ -f ${debs[0]} ]] || fail "cpack made no single rundelt_*.deb: $(ls "$1")"
    echo "${debs[0]}"
}

check_deb() {
    # The package's times come from the commit, not from the environment.
    unset SOURCE_DATE_EPOCH
    local deb
    deb=$(make_deb "$work/out")

    local files
    files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./usr/||' | LC_ALL=C sort)
    [[ $files == "$packaged_files" ]] ||
        fail "packaged files differ:$(diff <(echo "$packaged_files") <(echo "$files") | sed 's/^/  /')"

    dpkg-deb -x "$deb" "$work/root"
    "$work/root/usr/bin/rundelt-cli" --help | holds "rundelt-cli save" || fail "the packaged rundelt-cli does not run"
    zcat "$work/root/usr/share/doc/rundelt/changelog.gz" | sed -n 1p | holds "^rundelt ($version) " ||
        fail "the changelog does not begin with version $version"
    local program
    for program in rundelt rundelt-cli; do
        ! readelf -S "$work/root/usr/bin/$program" | holds -E '\.(comment|debug_info) ' ||
            fail "$program is not stripped of .comment and debugging sections"
        readelf -d "$work/root/usr/bin/$program" | holds 'BIND_NOW' || fail "$program is not linked with -z now"
        readelf -l "$work/root/usr/bin/$program" | holds 'GNU_RELRO' || fail "$program is not linked with -z relro"
    done

    [[ $(dpkg-deb -f "$deb" Package) == rundelt ]] || fail "package name"
    [[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "version $(dpkg-deb -f "$deb" Version)"
    [[ $(dpkg-deb -f "$deb" Architecture) == "$(dpkg --print-architecture)" ]] || fail "architecture"
    local depends
    depends=$(dpkg-deb -f "$deb" Depends)
    # Worked out from the binaries (each with a version), and the fonts named by hand.
    local wanted
    for wanted in 'libc6 (>=' 'libstdc++6 (>=' 'libqt6core6 (>=' 'libqt6gui6 (>=' 'libqt6widgets6 (>=' \
        'libsdl2-2.0-0 (>=' 'libfftw3-single3 (>=' 'libsndfile1 (>=' 'libtag1v5' \
        'libflac12 (>=' 'libmpg123-0 (>=' 'libogg0 (>=' 'libvorbis0a (>=' 'libopus0 (>=' \
        'fonts-ipafont-gothic | fonts-noto-cjk'; do
        [[ $depends == *"$wanted"* ]] || fail "Depends lacks '$wanted': $depends"
    done
    [[ $depends != *qt6-qpa-plugins* ]] || fail "Depends names qt6-qpa-plugins, which libqt6gui6 makes needless"
    [[ $(dpkg-deb -f "$deb" Recommends) == qt6-wayland ]] || fail "Recommends is not qt6-wayland"

    # lintian refuses nothing; it only warns that it runs as root, as CI does.
    lintian --pedantic --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 ||
        { grep -v 'running with root privileges' "$work/lintian.log" >&2; fail "lintian"; }
    grep -v 'running with root privileges' "$work/lintian.log" || true

    # Made again a moment later, the package is the same bytes.
    sleep 1.1
    local again
    again=$(make_deb "$work/again")
    cmp -s "$deb" "$again" || fail "two packages of the same build differ"

    echo "package ok: $(basename "$deb"), $(stat -c %s "$deb") bytes, installed size $(dpkg-deb -f "$deb" Installed-Size) KiB"
    echo "Depends: $depends"
}

case $mode in
    install) check_install ;;
    deb) check_deb ;;
    *) fail "unknown mode $mode" ;;
esac
