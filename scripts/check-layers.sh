#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fails when a file includes a project header from a layer it may not use. Each layer uses only
# the layers below it; tests, benchmarks and fuzzers use the layer they exercise and those below.
# usage: check-layers.sh SOURCE_DIR
set -euo pipefail
root=${1:-.}
cd "$root"

# What each folder's files may include, besides the standard library and system headers.
declare -A allowed=(
    [wave]="wave"
    [files]="wave files"
    [finder]="wave finder"
    [platform]="platform"
    [app]="wave files finder platform app"
    [window]="wave files finder platform app window"
    [cli]="wave files finder cli"
    [tests/support]="wave tests/support"
    [tests/wave]="wave tests/support"
    [tests/files]="wave files tests/support"
    [tests/finder]="wave finder tests/support"
    [tests/platform]="platform tests/platform tests/support"
    [tests/app]="wave files finder platform app tests/support"
    [tests/window]="wave files finder platform app window tests/support"
    [tests/cli]="wave finder cli tests/cli tests/support"
    [tests/e2e]="window tests/support"
    [fuzz]="wave files finder fuzz tests/support"
    [bench]="wave files finder tests/support"
)

status=0
while IFS= read -r file; do
    folder=${file%/*}
    [[ -v allowed[$folder] ]] || { echo "$file: folder $folder has no place among the layers" >&2; status=1; continue; }
    while IFS= read -r included; do
        ok=0
        for layer in ${allowed[$folder]}; do
            [[ $included == "$layer"/* && ${included#"$layer"/} != */* ]] && ok=1
        done
        if ((ok == 0)); then
            echo "$file includes \"$included\", outside what $folder/ may use (${allowed[$folder]})" >&2
            status=1
        fi
    done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(git ls-files --cached --others --exclude-standard -- '*.cpp' '*.h' 2>/dev/null ||
         find wave files finder platform app window cli tests fuzz bench -name '*.cpp' -o -name '*.h')
exit "$status"
