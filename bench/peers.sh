#!/bin/sh
# Times another registry tool on the same content as workload M, in the same run, so that the
# figures of tovik-bench can be compared: the .reg importer and exporter of Wine's regedit.
# usage: bench/peers.sh [BUILD_DIR]   (default build); needs the cached workload M of tovik-bench.
set -e
BUILD=${1:-build}
STORE=$BUILD/bench-data/M.db
HERE=$(dirname "$0")
if ! command -v wine >/dev/null 2>&1; then
    echo "peers: Wine is not installed (apt-get install wine); skipped."
    exit 0
fi
if [ ! -f "$STORE" ]; then
    echo "peers: $STORE is missing; run tovik-bench first."
    exit 1
fi
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
export WINEPREFIX="$WORK/wine" WINEDEBUG=-all

"$BUILD/cli/tovik-reg" --registry "$STORE" query HKLM -r > "$WORK/m.txt"
python3 "$HERE/reg_from_query.py" 'HKEY_CURRENT_USER\Software\TovikBench' < "$WORK/m.txt" > "$WORK/m.reg"
wineboot -i >/dev/null 2>&1 || true

seconds() { date +%s.%N; }
start=$(seconds); wine regedit /s "$WORK/m.reg" >/dev/null 2>&1; end=$(seconds)
import=$(awk "BEGIN { printf \"%.2f\", $end - $start }")
start=$(seconds); wine regedit /e "$WORK/out.reg" 'HKEY_CURRENT_USER\Software\TovikBench' >/dev/null 2>&1; end=$(seconds)
export_=$(awk "BEGIN { printf \"%.2f\", $end - $start }")

echo "| Peer (Wine regedit), M | Bytes of .reg | Seconds |"
echo "|---|---:|---:|"
echo "| import (regedit /s) | $(stat -c %s "$WORK/m.reg") | $import |"
echo "| export (regedit /e) | $(stat -c %s "$WORK/out.reg" 2>/dev/null || echo 0) | $export_ |"
