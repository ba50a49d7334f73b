#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks the code's format, builds Rundelt and runs every test, in the normal build and under
# AddressSanitizer and UndefinedBehaviorSanitizer; then builds every target of the optimised
# (release) preset with its tests, so a warning that only optimisation brings out fails here too,
# and checks the package made from it.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
source scripts/steps.sh
step "installing the packages" scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" \
  "${PACKAGE_PACKAGES[@]}"
step "checking the code's format" scripts/check-format.sh
# Tests run side by side, one per core; the few that must run alone say so in their properties.
jobs=$(nproc)
for preset in dev asan; do
  echo "== $preset build"
  quiet_step "configuring the $preset preset" cmake --preset "$preset"
  step "building the $preset preset" cmake --build --preset "$preset"
  step "the tests of the $preset preset" ctest --preset "$preset" -j "$jobs" --output-on-failure
done
echo "== release build"
quiet_step "configuring the release preset" cmake --preset release -DBUILD_TESTING=ON
step "building the release preset" cmake --build --preset release
# The shipped build: its install tree and the Debian package made from it.
step "the package tests of the release preset" ctest --preset release -R '^package_' -j "$jobs" --output-on-failure
