# SPDX-License-Identifier: GPL-3.0-or-later
# The common start of a benchmark part that bench/run.sh calls with its build folder, scratch
# folder and run count, and that also runs alone:
#   part_targets=(TARGET...); source bench/part.sh WHAT NAME "$@"
# installs the packages, builds the targets in the given build folder (alone: the release preset,
# configured with its tests), and sets root, bin, runs, scratch (removed on exit), mib, verdict,
# ratio and measure.
what=$1 name=$2
shift 2
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
source scripts/packages.sh
source scripts/steps.sh
step "installing the packages" scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}" "${BENCH_PACKAGES[@]}" \
  libgtest-dev
bin="${1:-$root/build/release}"
if [ $# -lt 1 ]; then
  quiet_step "configuring the release preset" cmake --preset release -B "$bin" -DBUILD_TESTING=ON
fi
quiet_step "building $what" cmake --build "$bin" --target "${part_targets[@]}"
runs="${3:-${RUNS:-5}}"
scratch="$(mktemp -d "${2:-${BENCH_DIR:-${TMPDIR:-/tmp}}}/rundelt-$name.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
mib=$((1024 * 1024))
# verdict CONDITION: "ok" where the awk condition holds, else "MISSED".
verdict() { if awk "BEGIN { exit !($1) }"; then echo "ok"; else echo "MISSED"; fi; }
# ratio A B: A / B to 2 decimals.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
# median VALUE...: the median of the values.
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (v[int((NR + 1) / 2)] + v[int(NR / 2) + 1]) / 2 }'; }
# rounds: how many rounds a figure measured round by round takes, its commands alternating so
# that a drift of the machine's speed falls on all alike; at least 7, for the few per cent such a
# figure turns on, where one run's spread here is a tenth or more.
rounds() { echo $((runs < 7 ? 7 : runs)); }
# measure [--remove PATH] [--status N] -- ARGS...: "MS KIB", the medians of RUNS runs; a failed
# measurement names itself and ends the script.
measure() {
  local result status=0
  result=$("$bin/bench/bench_measure" "$runs" "$@") || status=$?
  [[ $status -eq 0 && -n $result ]] || steps_failed "measuring ($*)" "$((status == 0 ? 1 : status))"
  echo "$result"
}
