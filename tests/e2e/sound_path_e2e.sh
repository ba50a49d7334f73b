#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The sound path of the end-to-end test without the window: a small SDL2 player plays the seam
# preview block that rundelt-cli writes, into a private sound server's null sink, and the capture
# of the sink's monitor must hold that block bit for bit. When this passes and the window test
# fails, the fault is in the program, not in the sound setup.
#
# usage: sound_path_e2e.sh RUNDELT_CLI E2E_SOUND_CHECK E2E_SDL_PLAYER
set -euo pipefail
source "$(dirname "$0")/e2e_common.sh"
e2e_bound 60 "$0" "$@"
(($# == 3)) || e2e_fail "usage: $0 RUNDELT_CLI E2E_SOUND_CHECK E2E_SDL_PLAYER"
cli=$1 sound_check=$2 player=$3

e2e_begin
e2e_start_sound
e2e_start_keepalive

"$sound_check" make-wave "$e2e_work/noise.wav" 10
# Whole-sound loop of a 10 s file: the last 2 s before frame 440999, then the first 2 s.
"$cli" preview "$e2e_work/noise.wav" "$e2e_work/expected.wav" --start 0 --end 440999 ||
    e2e_fail "rundelt-cli preview failed"

e2e_start_capture
e2e_wait_keepalive
from=$(e2e_capture_bytes)
e2e_log "playing the block"
e2e_spawn player "$e2e_work/player.log" env SDL_AUDIODRIVER=pulseaudio PULSE_LATENCY_MSEC=1000 "$player" "$e2e_work/expected.wav"
player_pid=$e2e_pid
e2e_wait_exit "$player_pid" 20 || e2e_fail "the player did not finish within 20 s"
((e2e_status == 0)) || e2e_fail "the player exited with status $e2e_status"
e2e_wait_capture_grows "$from" 5 15
e2e_stop_capture

"$sound_check" compare "$e2e_work/expected.wav" "$e2e_capture" ||
    e2e_fail "the captured sound does not hold the preview block"
