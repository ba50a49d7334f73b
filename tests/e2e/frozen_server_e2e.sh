#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The window never waits long on a hung sound server. A private PulseAudio is stopped with
# SIGSTOP, which keeps every connection and answers none, as a hung server does: opening a device
# then waits 30 s, and closing one that plays waits until the server runs again. Three runs of
# the real program on a private X server:
#   1. A 10-second wave on the command line, its seam preview playing when the server stops;
#      loading the wave again through the open dialog must show "waveOutOpen失敗：6" within 3 s of
#      the Enter that chose it, and the window must then close, exit status 0, within 3 s.
#   2. The same preview playing when the server stops, then the window is closed: exit status 0
#      within 3 s.
#   3. Started without a file while the server is stopped: choosing the wave in the open dialog
#      must show the same message within 3 s, and the window must close within 3 s.
# The message box must be, pixel for pixel, the box that the tool's own message code shows for
# that text in a helper. Before anything stops, run 1 also reads the information box off the
# screen: seven lines of text, the last ("再生時間 ： 10.00秒") as tall as the sixth and ending at
# the same column ("データサイズ ： 1764000", 34 columns each), so its "秒" is drawn whole, with
# blank rows between it and the box's bottom edge.
#
# usage: frozen_server_e2e.sh RUNDELT E2E_SOUND_CHECK E2E_X11 E2E_MESSAGE_BOX
set -euo pipefail
source "$(dirname "$0")/e2e_common.sh"
e2e_bound 100 "$0" "$@"
(($# == 4)) || e2e_fail "usage: $0 RUNDELT E2E_SOUND_CHECK E2E_X11 E2E_MESSAGE_BOX"
rundelt=$1 sound_check=$2 x11=$3 message_box=$4

caption="Rundelt v1.0"
message="waveOutOpen失敗：6"
limit_ms=3000
client_width=440
# Button centres and the information box, in logical pixels (twips / 15).
open_x=$(((600 + 1455 / 2) / 15)) open_y=$(((240 + 375 / 2) / 15))
preview_x=$(((4440 + 1455 / 2) / 15)) preview_y=$(((2400 + 375 / 2) / 15))
info_left=16 info_top=56 info_width=393 info_height=89

e2e_require xdotool
e2e_begin
e2e_start_x
e2e_start_sound
wave="$e2e_work/noise.wav"
"$sound_check" make-wave "$wave" 10

# e2e_windows PID: the visible windows of a process, one per line.
e2e_windows() { xdotool search --onlyvisible --pid "$1" 2>/dev/null || true; }

# e2e_wait_new_window PID LIMIT_SECONDS KNOWN...: waits for a visible window of PID that is not
# one of KNOWN and leaves it in `window`; 1 at the bound.
e2e_wait_new_window() {
    local pid=$1 seconds=$2
    shift 2
    local known=" $* "
    e2e_new_window() {
        e2e_alive_or_fail "$pid"
        local id
        for id in $(e2e_windows "$pid"); do
            [[ $known == *" $id "* ]] && continue
            window=$id
            return 0
        done
        return 1
    }
    e2e_poll "$seconds" e2e_new_window
}

# e2e_grab_stable WINDOW FILE: the window's picture once two grabs in a row agree (painted).
e2e_grab_stable() {
    local previous="$2.previous" tries
    for ((tries = 0; tries < 20; tries++)); do
        "$x11" grab "$1" "$2" || e2e_fail "cannot grab window $1"
        [[ -f $previous ]] && cmp -s "$2" "$previous" && return 0
        mv "$2" "$previous"
        sleep 0.1
    done
    e2e_fail "window $1 does not settle"
}

ppm_size() { sed -n 2p "$1"; }

# The box the tool must show, from its own message code.
e2e_spawn message_box "$e2e_work/message_box.log" env QT_QPA_PLATFORM=xcb "$message_box" "$message"
helper_pid=$e2e_pid
e2e_wait_new_window "$helper_pid" 30 || e2e_fail "the reference message box did not appear"
xdotool mousemove 0 0
e2e_grab_stable "$window" "$e2e_work/expected-box.ppm"
"$x11" close "$window" || e2e_fail "cannot close the reference message box"
e2e_wait_exit "$helper_pid" 10 || e2e_fail "the reference message box did not close"
e2e_log "reference message box: $(ppm_size "$e2e_work/expected-box.ppm") px"

# start_rundelt ARGS...: the program on the private servers; its id in rundelt_pid.
start_rundelt() {
    e2e_spawn rundelt "$e2e_work/rundelt-$1.log" \
        env QT_QPA_PLATFORM=xcb SDL_AUDIODRIVER=pulseaudio PULSE_LATENCY_MSEC=250 "$rundelt" "${@:2}"
    rundelt_pid=$e2e_pid
}

# Finds the main window; sets main_window and its width.
find_main_window() {
    e2e_wait_window "$rundelt_pid" "$caption"
    main_window=$e2e_window width=$e2e_window_width
    sleep 1  # painted and taking input
}
scaled() { echo $(($1 * width / client_width)); }

click() {
    xdotool mousemove --window "$main_window" "$(scaled "$1")" "$(scaled "$2")" && xdotool click 1 ||
        e2e_fail "cannot click at ($1, $2)"
}

# Plays the seam preview and stops the server while it plays.
freeze_during_preview() {
    click "$preview_x" "$preview_y"
    sleep 1
    e2e_alive_or_fail "$rundelt_pid"
    e2e_freeze_sound
}

# choose_wave DIALOG: types the wave's path into the open dialog and presses Enter until the
# dialog closes (the first Enter may only close the list of completions); leaves the time of the
# Enter that closed it in chose_ns, and the windows shown before it in shown_before.
choose_wave() {
    local dialog=$1 tries
    sleep 0.5  # the dialog takes input
    xdotool type --delay 5 "$wave" || e2e_fail "cannot type into the open dialog"
    sleep 0.3
    e2e_dialog_closed() { ! e2e_windows "$rundelt_pid" | holds -x "$dialog"; }
    for ((tries = 0; tries < 2; tries++)); do
        shown_before=$(e2e_windows "$rundelt_pid")
        chose_ns=$(date +%s%N)
        xdotool key Return || e2e_fail "cannot press Enter"
        e2e_poll 2 e2e_dialog_closed && return 0
    done
    e2e_fail "the open dialog does not take the path"
}

# expect_message RUN KNOWN_WINDOWS...: a new window, the message box, is up within the limit of
# the Enter and shows the message; then it is closed.
expect_message() {
    local run=$1
    shift
    e2e_wait_new_window "$rundelt_pid" 5 "$@" || e2e_fail "run $run: no message box within 5 s"
    local waited_ms
    waited_ms=$(e2e_ms_since "$chose_ns")
    ((waited_ms <= limit_ms)) || e2e_fail "run $run: the message box came $waited_ms ms after the Enter"
    xdotool mousemove 0 0
    local box="$e2e_work/box-$run.ppm"
    e2e_grab_stable "$window" "$box"
    cmp -s "$box" "$e2e_work/expected-box.ppm" ||
        e2e_fail "run $run: the message box does not show \"$message\" (its picture, $(ppm_size "$box") px, differs from the reference)"
    e2e_log "run $run: \"$message\" shown $waited_ms ms after the Enter"
    "$x11" close "$window" || e2e_fail "run $run: cannot close the message box"
}

# expect_exit RUN: asks the main window to close; the program must exit 0 within the limit.
expect_exit() {
    local run=$1 start_ns
    start_ns=$(date +%s%N)
    "$x11" close "$main_window" || e2e_fail "run $run: cannot ask the window to close"
    e2e_wait_exit "$rundelt_pid" $((limit_ms / 1000)) ||
        e2e_fail "run $run: rundelt still runs $limit_ms ms after the close"
    local waited_ms
    waited_ms=$(e2e_ms_since "$start_ns")
    ((e2e_status == 0)) || e2e_fail "run $run: rundelt exited with status $e2e_status"
    e2e_log "run $run: rundelt exited 0, $waited_ms ms after the close"
}

# The information box: seven lines drawn whole inside it.
check_information() {
    local bands top bottom
    bands=$("$x11" ink-bands "$main_window" "$(scaled $info_left)" "$(scaled $info_top)" \
        "$(scaled $info_width)" "$(scaled $info_height)") || e2e_fail "cannot read the information box"
    mapfile -t lines <<<"$bands"
    ((${#lines[@]} == 7)) || e2e_fail "the information box shows ${#lines[@]} lines of text, not 7: ${lines[*]}"
    local sixth seventh
    read -r -a sixth <<<"${lines[5]}"
    read -r -a seventh <<<"${lines[6]}"
    bottom=$(($(scaled $((info_top + info_height))) - 1))
    ((seventh[1] + 2 <= bottom)) ||
        e2e_fail "the last line reaches row ${seventh[1]}, the box's edge is row $bottom"
    ((seventh[1] - seventh[0] >= sixth[1] - sixth[0])) ||
        e2e_fail "the last line is cut: rows ${seventh[0]}..${seventh[1]}, the sixth ${sixth[0]}..${sixth[1]}"
    ((seventh[3] >= sixth[3] - 1 && seventh[3] <= sixth[3] + 1)) ||
        e2e_fail "the last line ends at column ${seventh[3]}, the sixth at ${sixth[3]}: its 秒 is not drawn whole"
    e2e_log "information: 7 lines; the last at rows ${seventh[0]}..${seventh[1]}, columns ..${seventh[3]}" \
        "(sixth ..${sixth[3]}); the box's bottom edge at row $bottom"
}

# ---- 1: loading while the server is stopped during a preview ----
start_rundelt 1 "$wave"
find_main_window
check_information
freeze_during_preview
click "$open_x" "$open_y"
e2e_wait_new_window "$rundelt_pid" 5 "$main_window" || e2e_fail "run 1: no open dialog"
dialog=$window
choose_wave "$dialog"
expect_message 1 $shown_before
expect_exit 1
e2e_resume_sound

# ---- 2: closing the window while the server is stopped during a preview ----
start_rundelt 2 "$wave"
find_main_window
freeze_during_preview
expect_exit 2
e2e_resume_sound

# ---- 3: starting while the server is stopped ----
e2e_freeze_sound
start_rundelt 3
e2e_wait_new_window "$rundelt_pid" 30 || e2e_fail "run 3: no open dialog"
dialog=$window
choose_wave "$dialog"
expect_message 3 $shown_before
find_main_window
expect_exit 3
