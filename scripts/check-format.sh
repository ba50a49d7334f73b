#!/usr/bin/env bash
# Fails when a C++ file of the project is not formatted as .clang-format says (clang-format from
# Debian's clang-format package). Run clang-format -i on the files it names to mend them.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files --cached --others --exclude-standard -- '*.cpp' '*.h')
((${#files[@]} > 0)) || { echo "no C++ files found" >&2; exit 1; }
clang-format --dry-run --Werror "${files[@]}"
