# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by run.sh, test.sh, bench/run.sh and fuzz/run.sh: each names its steps, so a step that
# fails ends the script with a line saying which step it was, under the tool's own messages.

steps_script=$0

steps_failed() {
    echo "$steps_script: $1 failed (status $2)" >&2
    exit "$2"
}

# step WHAT COMMAND...: a step whose output is shown as it runs.
step() {
    local what=$1 status=0
    shift
    "$@" || status=$?
    ((status == 0)) || steps_failed "$what" "$status"
}

# quiet_step WHAT COMMAND...: a step whose output is kept aside and shown only when it fails,
# without the build tool's progress lines.
quiet_step() {
    local what=$1 status=0 log
    shift
    log=$(mktemp)
    "$@" >"$log" 2>&1 || status=$?
    if ((status != 0)); then
        grep -v -E '^\[[0-9]+/[0-9]+\] ' "$log" | head -n 200 >&2 || true
        rm -f "$log"
        steps_failed "$what" "$status"
    fi
    rm -f "$log"
}
