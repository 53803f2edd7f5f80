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
echo "== The installed mode change service follows a docking event"
service="$("$bin/tavio-machine" path 'C:\Program Files\Tavio Menu\Modewatch.exe')"
"$service" -Start &
service_pid=$!
trap 'kill "$service_pid" 2>/dev/null || true' EXIT
# The service is ready once its dock event subscription is live.
for _ in $(seq 100); do
    if "$bin/tavio-machine" wmi | grep -q subscription; then
        break
    fi
    sleep 0.1
done
"$bin/tavio-machine" firmware dock 0x0C
for _ in $(seq 100); do
    if "$bin/tavio-machine" journal --kind display.change | grep -q orientation=1; then
        break
    fi
    sleep 0.1
done
"$bin/tavio-machine" display
"$service" -Stop
wait "$service_pid" || true
trap - EXIT

echo
echo "== Machine journal"
"$bin/tavio-machine" journal
