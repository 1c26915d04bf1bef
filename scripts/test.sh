#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the normal build, then the address and
# undefined-behaviour sanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

for preset in dev asan; do
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  ctest --preset "$preset" --output-on-failure --no-tests=error
done
