#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fails when a C++ file of the project is not formatted as .clang-format says (clang-format from
# Debian's clang-format package), or when a source file lacks its licence line at the top. Run
# clang-format -i on the files it names to mend them.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files --cached --others --exclude-standard -- '*.cpp' '*.h')
((${#files[@]} > 0)) || { echo "no C++ files found" >&2; exit 1; }
clang-format --dry-run --Werror "${files[@]}"

status=0
while IFS= read -r file; do
    [[ -f $file ]] || continue
    head -n 3 "$file" | grep -q 'SPDX-License-Identifier: GPL-3.0-or-later' || {
        echo "$file: no SPDX-License-Identifier line at the top" >&2
        status=1
    }
done < <(git ls-files --cached --others --exclude-standard -- '*.cpp' '*.h' '*.sh' '*.py' \
    '*CMakeLists.txt' '*.1' '*.desktop' '*.svg' test.sh run.sh package.sh .ci/run)
exit "$status"
