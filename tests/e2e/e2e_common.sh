# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the end-to-end scripts. Gives them a private X server, a private sound server with
# a null sink, a keepalive stream, a capture of the sink's monitor, and the bookkeeping that stops
# every process the script started, by its id, however the script ends (success, failure, time
# limit). Nothing here touches the user's own X or sound session: every socket, cookie and
# runtime folder lives in one temporary folder that is removed at the end.

source "$(dirname "${BASH_SOURCE[0]}")/../support/holds.sh"

e2e_sink=rundelt_test
e2e_rate=44100
e2e_format=s16le
e2e_channels=2
e2e_bytes_per_sec=$((e2e_rate * e2e_channels * 2))

e2e_pids=()              # started processes, oldest first
declare -A e2e_names=()  # id -> what it is, for the report; removed once reaped
e2e_logs=()              # "name|file" pairs shown on failure
e2e_work=""
e2e_start_ns=$(date +%s%N)

e2e_elapsed() {
    local now
    now=$(date +%s%N)
    printf '%d.%03d' $(((now - e2e_start_ns) / 1000000000)) $((((now - e2e_start_ns) / 1000000) % 1000))
}

# Milliseconds since a time taken with $(date +%s%N).
e2e_ms_since() { echo $((($(date +%s%N) - $1) / 1000000)); }

e2e_log() { printf '[e2e %6ss] %s\n' "$(e2e_elapsed)" "$*" >&2; }

e2e_fail() {
    e2e_log "FAIL: $*"
    exit 1
}

# Runs the rest of the script under a hard time limit: past it, `timeout` sends TERM, whose trap
# below stops everything and reports. Call first, with the script's own arguments.
e2e_bound() {
    local seconds=$1 script=$2
    shift 2
    if [[ -z ${RUNDELT_E2E_BOUNDED:-} ]]; then
        RUNDELT_E2E_BOUNDED=1 exec timeout --kill-after=10 "$seconds" bash "$script" "$@"
    fi
}

e2e_require() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || e2e_fail "'$tool' is not installed (see scripts/packages.sh)"
    done
}

# True while the process runs. Bash reaps its children on its own, so an id that is not our
# child any more may already name someone else's process; that counts as gone.
e2e_running() {
    local pid=$1 rest state ppid
    read -r rest 2>/dev/null </proc/"$pid"/stat || return 1
    rest=${rest##*) }  # the name in parentheses may hold blanks
    read -r state ppid _ <<<"$rest"
    [[ $ppid == "$$" && $state != Z && $state != X ]]
}

# e2e_spawn NAME LOG COMMAND...: starts COMMAND in the background, its output into LOG; the id
# is left in e2e_pid.
e2e_spawn() {
    local name=$1 log=$2
    shift 2
    "$@" >"$log" 2>&1 </dev/null &
    e2e_pid=$!
    e2e_pids+=("$e2e_pid")
    e2e_names[$e2e_pid]=$name
    e2e_logs+=("$name|$log")
}

# e2e_wait_exit PID SECONDS: waits, bounded, for a started process to end by itself and leaves
# its exit status in e2e_status. Returns 1 if it is still running at the bound.
e2e_wait_exit() {
    local pid=$1 limit_ns=$(($(date +%s%N) + $2 * 1000000000))
    while e2e_running "$pid"; do
        (($(date +%s%N) < limit_ns)) || return 1
        sleep 0.1
    done
    e2e_status=0
    wait "$pid" || e2e_status=$?
    unset "e2e_names[$pid]"
    return 0
}

# e2e_stop PID: TERM, a few seconds' grace, then KILL; reaps it.
e2e_stop() {
    local pid=$1
    [[ -n ${e2e_names[$pid]:-} ]] || return 0
    if e2e_running "$pid"; then
        kill -TERM "$pid" 2>/dev/null || true
        if ! e2e_wait_exit "$pid" 5; then
            e2e_log "${e2e_names[$pid]} (pid $pid) ignored TERM; killing it"
            kill -KILL "$pid" 2>/dev/null || true
        fi
    fi
    wait "$pid" 2>/dev/null || true
    unset "e2e_names[$pid]"
}

e2e_cleanup() {
    local status=$?
    trap '' INT TERM
    local i entry
    e2e_resume_sound  # a stopped server would ignore its TERM
    for ((i = ${#e2e_pids[@]} - 1; i >= 0; i--)); do e2e_stop "${e2e_pids[i]}"; done
    if ((status != 0)); then
        for entry in "${e2e_logs[@]}"; do
            [[ -s ${entry#*|} ]] || continue
            printf -- '---- last lines of %s ----\n' "${entry%%|*}" >&2
            tail -n 25 "${entry#*|}" >&2
        done
    fi
    [[ -n $e2e_work && -d $e2e_work ]] && rm -rf "$e2e_work"
    e2e_log "$( ((status == 0)) && echo "passed" || echo "failed (status $status)")"
    exit "$status"
}

e2e_begin() {
    trap e2e_cleanup EXIT
    trap 'e2e_log "stopped by a signal or the time limit"; exit 124' INT TERM
    e2e_work=$(mktemp -d -t rundelt-e2e.XXXXXX)
    # No session bus: a library would otherwise reach the user's, or launch one of its own for
    # the private display that outlives the test.
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$e2e_work/no-session-bus"
}

# e2e_poll SECONDS COMMAND...: polls COMMAND every 0.1 s until it succeeds; 1 at the bound.
e2e_poll() {
    local limit_ns=$(($(date +%s%N) + $1 * 1000000000))
    shift
    until "$@"; do
        (($(date +%s%N) < limit_ns)) || return 1
        sleep 0.1
    done
}

# e2e_wait_for WHAT SECONDS COMMAND...: the same, failing the test at the bound.
e2e_wait_for() {
    local what=$1 seconds=$2
    shift 2
    e2e_poll "$seconds" "$@" || e2e_fail "no $what after $seconds s"
}

e2e_alive_or_fail() {
    local pid=$1 name=${e2e_names[$1]:-process $1}
    e2e_running "$pid" && return 0
    e2e_wait_exit "$pid" 0 || true
    e2e_fail "$name ended early (status ${e2e_status:-unknown})"
}

# e2e_wait_window PID CAPTION: waits for the visible window of a started process captioned
# CAPTION, and leaves it in e2e_window and its width in e2e_window_width. Without a window
# manager the window is its own client area; Qt may scale it on a high-DPI screen, so places in
# it follow its real width.
e2e_wait_window() {
    local pid=$1 caption=$2
    e2e_captioned() {
        e2e_alive_or_fail "$pid"
        e2e_window=$(xdotool search --all --onlyvisible --pid "$pid" --name "^${caption//./\\.}\$" \
            2>/dev/null | sed -n 1p)
        [[ -n $e2e_window ]]
    }
    e2e_wait_for "window captioned \"$caption\"" 30 e2e_captioned
    e2e_window_width=$(xdotool getwindowgeometry "$e2e_window" | sed -n 's/.*Geometry: \([0-9]*\)x.*/\1/p')
    [[ $e2e_window_width =~ ^[0-9]+$ ]] && ((e2e_window_width > 0)) || e2e_fail "cannot read the window's size"
    e2e_log "window $e2e_window is up, $e2e_window_width px wide"
}

# X server on the first free display, with its own cookie; sets DISPLAY and XAUTHORITY.
e2e_start_x() {
    e2e_require Xvfb xauth
    local cookie display_file="$e2e_work/display"
    cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
    # The server loads every cookie in its file whatever display it names; the display number
    # is known only once the server has picked a free one.
    : >"$e2e_work/server.auth"
    : >"$e2e_work/client.auth"
    xauth -q -f "$e2e_work/server.auth" add :0 MIT-MAGIC-COOKIE-1 "$cookie"
    : >"$display_file"
    exec 3>"$display_file"
    # -noreset: by default the server regenerates whenever its last running client leaves, and
    # closes every connection still in its handshake as it does, so a program starting just as
    # a one-shot client (xdotool, a grab) ends would be refused the display. -displayfd: the
    # number is written once the server takes connections, and the server picks a free one.
    e2e_spawn Xvfb "$e2e_work/xvfb.log" \
        Xvfb -displayfd 3 -nolisten tcp -noreset -auth "$e2e_work/server.auth" -screen 0 1024x768x24
    exec 3>&-
    local xvfb=$e2e_pid
    e2e_x_ready() {
        e2e_alive_or_fail "$xvfb"
        [[ $(cat "$display_file") =~ ^[0-9]+$'\n'?$ ]]
    }
    e2e_wait_for "X server" 15 e2e_x_ready
    local number
    number=$(tr -d '\n' <"$display_file")
    export DISPLAY=":$number" XAUTHORITY="$e2e_work/client.auth"
    xauth -q -f "$XAUTHORITY" add "$DISPLAY" MIT-MAGIC-COOKIE-1 "$cookie"
    e2e_log "X server on $DISPLAY (pid $xvfb)"
}

# Sound server with only a null sink and the local socket, anonymous access, in its own runtime
# folder; works as root too (it warns and runs). Clients find it through PULSE_SERVER and never
# start a server of their own.
e2e_start_sound() {
    e2e_require pulseaudio pactl pacat parec
    export XDG_RUNTIME_DIR="$e2e_work/run" HOME="$e2e_work/home"
    mkdir -m 700 "$XDG_RUNTIME_DIR" "$HOME"
    export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
    export PULSE_CLIENTCONFIG="$e2e_work/client.conf"
    printf 'autospawn = no\n' >"$PULSE_CLIENTCONFIG"
    unset PULSE_SINK PULSE_SOURCE
    # The sink takes the test's own format, so no resampling or conversion happens on the way
    # to the monitor, whatever the machine's daemon.conf says about defaults.
    cat >"$e2e_work/server.pa" <<EOF
load-module module-null-sink sink_name=$e2e_sink rate=$e2e_rate format=$e2e_format channels=$e2e_channels
load-module module-native-protocol-unix auth-anonymous=1 socket=$XDG_RUNTIME_DIR/pulse/native
set-default-sink $e2e_sink
EOF
    e2e_spawn pulseaudio "$e2e_work/pulseaudio.log" \
        pulseaudio -n -F "$e2e_work/server.pa" --daemonize=no --exit-idle-time=-1 \
        --use-pid-file=no --log-target=stderr --disallow-exit
    local pulse=$e2e_pid
    e2e_sound_ready() {
        e2e_alive_or_fail "$pulse"
        pactl info >/dev/null 2>&1
    }
    e2e_wait_for "answer from the sound server" 15 e2e_sound_ready
    e2e_sound_pid=$pulse
    pactl set-sink-volume "$e2e_sink" 100% && pactl set-sink-mute "$e2e_sink" 0 ||
        e2e_fail "cannot set the sink's volume"
    pactl list short sinks | holds "$e2e_sink" || e2e_fail "the null sink is missing"
    e2e_log "sound server at $PULSE_SERVER (pid $pulse)"
}

# The sound server stopped with SIGSTOP: it keeps its clients' connections and answers none of
# them, as a hung server does. Resumed by e2e_resume_sound, and always at the end.
e2e_freeze_sound() {
    kill -STOP "$e2e_sound_pid" || e2e_fail "cannot stop the sound server"
    e2e_sound_frozen=1
    e2e_log "sound server stopped (SIGSTOP)"
}

e2e_resume_sound() {
    [[ -n ${e2e_sound_frozen:-} ]] || return 0
    kill -CONT "$e2e_sound_pid" 2>/dev/null || true
    e2e_sound_frozen=""
    e2e_log "sound server resumed"
}

# A null sink consumes nothing for up to 2 s after a stream connects to an idle sink; a steady
# stream of silence keeps it running, so the sound under test is captured from its first frame.
e2e_start_keepalive() {
    e2e_spawn keepalive "$e2e_work/keepalive.log" \
        pacat --playback -d "$e2e_sink" --format="$e2e_format" --rate="$e2e_rate" \
        --channels="$e2e_channels" --raw /dev/zero
    e2e_keepalive_pid=$e2e_pid
    e2e_keepalive_ns=$(date +%s%N)
}

# Waits until the keepalive has run for 2.5 s.
e2e_wait_keepalive() {
    e2e_alive_or_fail "$e2e_keepalive_pid"
    local left_ns=$((e2e_keepalive_ns + 2500000000 - $(date +%s%N)))
    ((left_ns <= 0)) || sleep "$((left_ns / 1000000000)).$(printf '%09d' $((left_ns % 1000000000)))"
    e2e_alive_or_fail "$e2e_keepalive_pid"
}

e2e_start_capture() {
    e2e_capture="$e2e_work/capture.raw"
    e2e_spawn capture "$e2e_work/capture.log" \
        parec -d "$e2e_sink.monitor" --format="$e2e_format" --rate="$e2e_rate" \
        --channels="$e2e_channels" --raw --latency-msec=20 "$e2e_capture"
    e2e_capture_pid=$e2e_pid
    e2e_capture_started() { [[ -s $e2e_capture ]]; }
    e2e_wait_for "captured sound" 10 e2e_capture_started
}

e2e_capture_bytes() { stat -c %s "$e2e_capture"; }

# e2e_wait_capture_grows FROM_BYTES SECONDS_OF_SOUND LIMIT: waits until the capture holds that
# much sound past FROM_BYTES.
e2e_wait_capture_grows() {
    local target=$(($1 + $2 * e2e_bytes_per_sec))
    e2e_capture_grown() {
        e2e_alive_or_fail "$e2e_capture_pid"
        (($(e2e_capture_bytes) >= target))
    }
    e2e_wait_for "$2 s of further capture" "$3" e2e_capture_grown
}

e2e_stop_capture() {
    e2e_stop "$e2e_capture_pid"
    e2e_log "captured $(e2e_capture_bytes) bytes"
}
