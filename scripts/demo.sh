#!/usr/bin/env bash
# The main job: builds the system, makes a fresh simulated tablet, installs the
# product on it and shows what the installation left on the machine.
#
#   scripts/demo.sh            machine in $TAVIO_MACHINE, or ./demo-machine
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

tavio_ensure_packages "${TAVIO_PACKAGES[@]}"
build="$TAVIO_SOURCE/build"
tavio_build "$build" Release

export TAVIO_MACHINE="${TAVIO_MACHINE:-$PWD/demo-machine}"
bin="$build/bin"

echo
echo "== Fresh machine at $TAVIO_MACHINE"
"$bin/tavio-machine" init

echo
echo "== Installing"
"$bin/tavio-setup" install

echo
echo "== Application folder C:\\Program Files\\Tavio Menu"
ls -l "$("$bin/tavio-machine" path 'C:\Program Files\Tavio Menu')"

echo
echo "== Settings key"
"$bin/tavio-machine" reg query 'HKLM\Software\KELTO\Tavio Menu'

echo
echo "== Machine journal"
"$bin/tavio-machine" journal
