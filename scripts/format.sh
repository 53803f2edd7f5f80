#!/usr/bin/env bash
# Formats the project's C++ sources with the repository's .clang-format.
#
#   scripts/format.sh           rewrite the files in place
#   scripts/format.sh --check   change nothing; fail and name the files that differ
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

mode=(-i)
if [ "${1:-}" = "--check" ]; then
    mode=(--dry-run --Werror)
elif [ $# -gt 0 ]; then
    echo "usage: scripts/format.sh [--check]" >&2
    exit 2
fi

tavio_ensure_packages clang-format
cd "$TAVIO_SOURCE"
folders=()
for folder in platform common support quickmenu applet tray modechange uninstall vendor tools tests bench; do
    if [ -d "$folder" ]; then
        folders+=("$folder")
    fi
done
mapfile -t sources < <(find "${folders[@]}" -type f \( -name '*.cpp' -o -name '*.h' \) | sort)
if [ "${#sources[@]}" -eq 0 ]; then
    exit 0
fi
clang-format --style=file "${mode[@]}" "${sources[@]}"
