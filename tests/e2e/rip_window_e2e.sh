#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A rip in the real window, on a private X server and sound server: looped music encoded by
# oggenc is opened from the command line; Ctrl+F sets the loop that `rundelt-cli find` puts
# first; the preview button plays that loop's seam of the decoded sound, which the capture of the
# null sink must hold bit for bit; the save button, given a name ending in .flac, writes the
# file `rundelt-cli save` writes, byte for byte; Ctrl+T, confirmed with Enter, writes the loop
# into the Ogg file, where vorbiscomment reads it as the first two comments, and the file decodes
# as before. Then the window is closed and the program must exit 0.
#
# With RUNDELT_E2E_PICTURES=FOLDER, the window with the rip open and Ctrl+T's question are also
# kept there as PPM images.
#
# usage: rip_window_e2e.sh RUNDELT RUNDELT_CLI E2E_SOUND_CHECK E2E_X11
set -euo pipefail
source "$(dirname "$0")/e2e_common.sh"
e2e_bound 80 "$0" "$@"
(($# == 4)) || e2e_fail "usage: $0 RUNDELT RUNDELT_CLI E2E_SOUND_CHECK E2E_X11"
rundelt=$1 cli=$2 sound_check=$3 x11=$4
pictures=${RUNDELT_E2E_PICTURES:-}

caption="Rundelt v1.0"
client_width=440
# Buttons in the client area, in logical pixels (twips / 15): the preview button at 4440, 2400,
# 1455 x 375 twips, the save button at 2400, 240, 1455 x 375.
preview_x=$(((4440 + 1455 / 2) / 15)) preview_y=$(((2400 + 375 / 2) / 15))
save_x=$(((2400 + 1455 / 2) / 15)) save_y=$(((240 + 375 / 2) / 15))

e2e_require xdotool oggenc vorbiscomment sndfile-convert
e2e_begin
e2e_start_x
e2e_start_sound
e2e_start_keepalive

# Opened by a path relative to the working folder, as typed in a terminal there.
rip_name="Soundtrack/01 タイトル.ogg"
rip="$e2e_work/$rip_name"
mkdir "${rip%/*}"
"$sound_check" make-looped-wave "$e2e_work/master.wav" || e2e_fail "cannot make the music"
oggenc -Q -q 6 -o "$rip" "$e2e_work/master.wav" || e2e_fail "oggenc failed"
read -r start end _ < <("$cli" find "$rip" --top 1) || e2e_fail "rundelt-cli find found no loop"
e2e_log "rundelt-cli find: loop $start .. $end"
# The window's defaults: repeat 2, fade 5 seconds.
"$cli" save "$rip" "$e2e_work/expected.flac" --start "$start" --end "$end" ||
    e2e_fail "rundelt-cli save failed"
"$cli" preview "$rip" "$e2e_work/expected-seam.wav" --start "$start" --end "$end" ||
    e2e_fail "rundelt-cli preview failed"
sndfile-convert -pcm16 "$rip" "$e2e_work/before.wav" || e2e_fail "cannot decode the rip"

cd "$e2e_work"
e2e_spawn rundelt "$e2e_work/rundelt.log" \
    env QT_QPA_PLATFORM=xcb SDL_AUDIODRIVER=pulseaudio PULSE_LATENCY_MSEC=1000 "$rundelt" "$rip_name"
rundelt_pid=$e2e_pid
cd - >/dev/null
e2e_wait_window "$rundelt_pid" "$caption"
window=$e2e_window width=$e2e_window_width
scaled() { echo $(($1 * width / client_width)); }
click() {
    xdotool mousemove --window "$window" "$(scaled "$1")" "$(scaled "$2")" && xdotool click 1 ||
        e2e_fail "cannot click at ($1, $2)"
}

# e2e_windows: the program's visible windows, one per line.
e2e_windows() { xdotool search --onlyvisible --pid "$rundelt_pid" 2>/dev/null || true; }

# wait_new_window SECONDS WHAT: a visible window of the program besides the main one (and the
# join's, which is not opened here); left in `other`.
wait_new_window() {
    e2e_other_window() {
        e2e_alive_or_fail "$rundelt_pid"
        other=$(e2e_windows | grep -vx "$window" | sed -n 1p)
        [[ -n $other ]]
    }
    e2e_wait_for "$2" "$1" e2e_other_window
}

# keep_picture WINDOW NAME: the window's picture in the pictures folder, once painted.
keep_picture() {
    [[ -n $pictures ]] || return 0
    sleep 1
    "$x11" grab "$1" "$pictures/$2.ppm" || e2e_fail "cannot grab window $1"
    e2e_log "kept $pictures/$2.ppm"
}

e2e_start_capture
e2e_wait_keepalive
sleep 1  # painted and taking input

# press KEYS: the keys, to the main window with the input focus (no window manager gives it).
press() {
    xdotool windowfocus --sync "$window" && xdotool key --window "$window" "$1" ||
        e2e_fail "cannot press $1"
}

press ctrl+f
# The click below waits in the queue until the search is done.
from=$(e2e_capture_bytes)
click "$preview_x" "$preview_y"
e2e_wait_capture_grows "$from" 8 30
e2e_stop_capture
e2e_alive_or_fail "$rundelt_pid"
keep_picture "$window" window-ogg

click "$save_x" "$save_y"
wait_new_window 10 "save dialog"
dialog=$other
sleep 0.5  # the dialog takes input
saved="$e2e_work/looped.flac"
xdotool type --delay 5 "$saved" || e2e_fail "cannot type into the save dialog"
sleep 0.3
e2e_dialog_closed() { ! e2e_windows | holds -x "$dialog"; }
for ((tries = 0; tries < 2; tries++)); do
    xdotool key Return || e2e_fail "cannot press Enter"
    e2e_poll 2 e2e_dialog_closed && break
done
e2e_dialog_closed || e2e_fail "the save dialog does not take the name"
e2e_saved() {
    e2e_alive_or_fail "$rundelt_pid"
    cmp -s "$saved" "$e2e_work/expected.flac"
}
e2e_poll 20 e2e_saved ||
    e2e_fail "the saved FLAC is not rundelt-cli save's ($(cmp "$saved" "$e2e_work/expected.flac" 2>&1))"
e2e_log "the window saved $(stat -c %s "$saved") bytes of FLAC, the same as rundelt-cli save"

press ctrl+t
wait_new_window 10 "Ctrl+T's question"
question=$other
keep_picture "$question" question-ctrl-t
xdotool key Return || e2e_fail "cannot press Enter"
expected_tags=$'LOOPSTART='"$start"$'\nLOOPLENGTH='"$((end - start))"
e2e_tagged() {
    e2e_alive_or_fail "$rundelt_pid"
    [[ $(vorbiscomment -l "$rip" 2>/dev/null | head -n 2) == "$expected_tags" ]]
}
e2e_poll 15 e2e_tagged ||
    e2e_fail "vorbiscomment reads $(vorbiscomment -l "$rip" 2>&1 | head -n 2 | tr '\n' ' '), not the loop"
e2e_log "vorbiscomment reads the loop: $(echo "$expected_tags" | tr '\n' ' ')"
sndfile-convert -pcm16 "$rip" "$e2e_work/after.wav" || e2e_fail "cannot decode the tagged rip"
cmp -s "$e2e_work/before.wav" "$e2e_work/after.wav" || e2e_fail "the tagged rip decodes differently"
e2e_windows | holds -x "$question" && e2e_fail "the question is still up"

"$x11" close "$window" || e2e_fail "cannot ask the window to close"
e2e_wait_exit "$rundelt_pid" 15 || e2e_fail "rundelt did not exit within 15 s of the close"
((e2e_status == 0)) || e2e_fail "rundelt exited with status $e2e_status"
e2e_log "rundelt exited 0"

"$sound_check" compare "$e2e_work/expected-seam.wav" "$e2e_capture" ||
    e2e_fail "the captured sound does not hold the seam of the loop found"
