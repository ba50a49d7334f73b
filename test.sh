#!/usr/bin/env bash
# Builds Rundelt and runs every test, in the normal build and under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}"
for preset in dev asan; do
  echo "== $preset build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" --output-on-failure
done
# The shipped build, with the window whatever an earlier benchmark chose: its install tree and package.
echo "== release build and package"
cmake --preset release -DRUNDELT_WINDOW=ON >/dev/null
cmake --build --preset release --target rundelt rundelt-cli rundelt-cli-man
ctest --test-dir build/release -R '^package_' --output-on-failure
