#!/usr/bin/env bash
# Builds everything and runs every test.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

tavio_ensure_packages "${TAVIO_PACKAGES[@]}"
build="$TAVIO_SOURCE/build"
tavio_build "$build" Release
ctest --test-dir "$build" -j2 --output-on-failure --timeout 300
