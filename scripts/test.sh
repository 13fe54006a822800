#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite headless.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh
export QT_QPA_PLATFORM=offscreen
cd build
# The suites' temporary files and throw-away servers live in a folder of
# this run, so that a server left running afterwards is found and reported.
run_tmp=$(mktemp -d "${TMPDIR:-/tmp}/veltrana-tests.XXXXXX")
chmod 711 "$run_tmp"
status=0
TMPDIR=$run_tmp ctest --output-on-failure -j"$(nproc)" || status=$?
# A server goes with its test program; one whose program died is removed
# by its watcher within a few seconds.
for _ in 1 2 3 4 5 6 7 8 9 10; do
  pgrep -f -- "-D $run_tmp/" >/dev/null || break
  sleep 1
done
if pgrep -fa -- "-D $run_tmp/" >&2; then
  echo "test servers were left running (above)" >&2
  status=1
fi
rm -rf "$run_tmp"
exit "$status"
