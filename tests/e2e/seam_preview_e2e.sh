#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The real program with real parts: rundelt starts on a private X server with a 10-second wave on
# its command line (a path with blanks and non-ASCII letters, one argument, as a file manager
# passes it), a click on the preview button plays the seam through SDL2 into a private
# sound server, and the capture of the null sink's monitor must hold the preview block bit for
# bit: the last 2 seconds before the loop end, then the first 2 seconds (the whole-sound loop
# that a load sets). Then the window is closed as a window manager would close it, and the
# program must exit 0 by itself.
#
# On the screen, the blue cursor of the overview bar rests at the bar's left end before the
# click and at frame 88200 (the loop start plus 2 seconds) once the preview has ended.
#
# usage: seam_preview_e2e.sh RUNDELT RUNDELT_CLI E2E_SOUND_CHECK E2E_X11
set -euo pipefail
source "$(dirname "$0")/e2e_common.sh"
e2e_bound 60 "$0" "$@"
(($# == 4)) || e2e_fail "usage: $0 RUNDELT RUNDELT_CLI E2E_SOUND_CHECK E2E_X11"
rundelt=$1 cli=$2 sound_check=$3 x11=$4

caption="Rundelt v1.0"
# The preview button in the client area, in logical pixels: 4440, 2400, 1455 x 375 twips.
button_x=$(((4440 + 1455 / 2) / 15)) button_y=$(((2400 + 375 / 2) / 15))
client_width=440
# The bar's inner area: 240 + 2 px of sunken border, 4920 twips + 2 px down, 400 x 29 px.
bar_left=18 bar_width=400 bar_middle=$((328 + 2 + 29 / 2))
last_frame=440999
rest_frame=88200

e2e_require xdotool
e2e_begin
e2e_start_x
e2e_start_sound
e2e_start_keepalive

wave="$e2e_work/My Loops/ループ 1 ü.wav"
mkdir "${wave%/*}"
"$sound_check" make-wave "$wave" 10
# A load loops the whole sound: LoopStart 0, LoopEnd the last frame, 441000 - 1.
"$cli" preview "$wave" "$e2e_work/expected.wav" --start 0 --end "$last_frame" ||
    e2e_fail "rundelt-cli preview failed"

# A larger client buffer than SDL asks for: on a busy machine a small buffer underruns, and the
# server then skips the sound that comes late, which would read as a fault of the program (with
# both cores busy, 250 ms underran once in 60 runs).
e2e_spawn rundelt "$e2e_work/rundelt.log" \
    env QT_QPA_PLATFORM=xcb SDL_AUDIODRIVER=pulseaudio PULSE_LATENCY_MSEC=1000 "$rundelt" "$wave"
rundelt_pid=$e2e_pid

e2e_wait_window "$rundelt_pid" "$caption"
window=$e2e_window width=$e2e_window_width
click_x=$((button_x * width / client_width)) click_y=$((button_y * width / client_width))
scaled() { echo $(($1 * width / client_width)); }

# e2e_cursor_at X: the bar's middle row shows blue only within 2 px of window column X (logical).
e2e_cursor_at() {
    local want
    want=$(scaled "$1")
    cursor_columns=$("$x11" blue-columns "$window" "$(scaled $bar_middle)" "$(scaled $bar_left)" \
        "$(scaled $((bar_left + bar_width - 1)))") || e2e_fail "cannot read the bar's pixels"
    [[ -n $cursor_columns ]] || return 1
    local column
    for column in $cursor_columns; do
        ((column >= want - 2 && column <= want + 2)) || return 1
    done
}

e2e_start_capture
e2e_wait_keepalive
sleep 1  # the window has painted and takes input
e2e_alive_or_fail "$rundelt_pid"
e2e_cursor_at_left() { e2e_cursor_at $bar_left; }
e2e_poll 5 e2e_cursor_at_left ||
    e2e_fail "before the preview the cursor is not at the bar's left end (blue at: ${cursor_columns:-none})"
from=$(e2e_capture_bytes)
e2e_log "clicking the preview button at ($click_x, $click_y) of a ${width} px wide window"
xdotool mousemove --window "$window" "$click_x" "$click_y" || e2e_fail "cannot move the pointer"
xdotool click 1 || e2e_fail "cannot click"

# 4 seconds of preview, and time for a slow (sanitizer) build to react to the click and for the
# sound to drain through the server's buffers.
e2e_wait_capture_grows "$from" 8 25
e2e_stop_capture
e2e_alive_or_fail "$rundelt_pid"

# Where the bar puts a frame: its ratio of the last frame, in single precision as the window
# hands it to the painter; the 2 px tolerance covers that rounding and the pen's pixel choice.
rest_x=$((bar_left + rest_frame * bar_width / last_frame))
e2e_cursor_rests() { e2e_cursor_at $rest_x; }
e2e_poll 5 e2e_cursor_rests ||
    e2e_fail "after the preview the cursor is not at frame $rest_frame, x $rest_x (blue at: ${cursor_columns:-none})"
e2e_log "the cursor rests at x $cursor_columns"

# Ctrl+G opens the join's window beside the main one; closing the main one ends the program.
xdotool key --window "$window" ctrl+g || e2e_fail "cannot press Ctrl+G"
e2e_wait_window "$rundelt_pid" "継ぎ目"
e2e_log "the join's window $e2e_window is up beside the main one"

e2e_log "closing the window"
"$x11" close "$window" || e2e_fail "cannot ask the window to close"
e2e_wait_exit "$rundelt_pid" 15 || e2e_fail "rundelt did not exit within 15 s of the close"
((e2e_status == 0)) || e2e_fail "rundelt exited with status $e2e_status"
e2e_log "rundelt exited 0"

"$sound_check" compare "$e2e_work/expected.wav" "$e2e_capture" ||
    e2e_fail "the captured sound does not hold the preview block"
