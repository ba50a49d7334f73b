# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the test scripts. `holds [GREP_OPTION...] PATTERN` is `grep -q` over standard input
# that reads that input to its end first: `grep -q` leaves at the first match, and under pipefail
# the writer's SIGPIPE then fails the whole pipeline, now and then, as the scheduler decides.
holds() {
    local text
    text=$(cat)
    grep -q "$@" <<<"$text"
}
