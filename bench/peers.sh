#!/bin/sh
# Times another registry tool on the same content as workload M, so that the figures of
# tovik-bench can be compared: the .reg importer and exporter of Wine's regedit. Then prints
# regedit's times over Tovik's medians of import and export of M (backup file and .reg file of
# version 5), which tovik-bench leaves in DATA_DIR/medians.tsv.
# usage: bench/peers.sh [BUILD_DIR [tovik-bench arguments]]   (default build)
#   Of tovik-bench's arguments only --data DIR counts (default BUILD_DIR/bench-data), and --help,
#   which makes this do nothing, so that `make bench` can hand over BENCH_ARGS as they are.
set -e
BUILD=${1:-build}
[ $# -gt 0 ] && shift
DATA=$BUILD/bench-data
while [ $# -gt 0 ]; do
    case $1 in
    --help) exit 0 ;;  # tovik-bench only printed its usage
    --data) [ $# -gt 1 ] && { DATA=$2; shift; } ;;
    esac
    shift
done
STORE=$DATA/M.db
MEDIANS=$DATA/medians.tsv
if ! command -v wine >/dev/null 2>&1; then
    echo "peers: Wine is not installed (apt-get install wine); skipped."
    exit 0
fi
if [ ! -f "$STORE" ]; then
    echo "peers: $STORE is missing; run tovik-bench first."
    exit 1
fi
HERE=$(dirname "$0")
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

echo
echo "| Peer (Wine regedit), M | Bytes of .reg | Seconds |"
echo "|---|---:|---:|"
echo "| import (regedit /s) | $(stat -c %s "$WORK/m.reg") | $import |"
echo "| export (regedit /e) | $(stat -c %s "$WORK/out.reg" 2>/dev/null || echo 0) | $export_ |"

# Tovik's median of the first case whose operation starts with $1 and whose workload is M (or
# "M, <size> file"); empty when tovik-bench did not time it.
tovik_median() {
    [ -f "$MEDIANS" ] || return 0
    awk -F '\t' -v op="$1" '!/^#/ && index($1, op) == 1 && ($2 == "M" || index($2, "M, ") == 1) { print $3; exit }' "$MEDIANS"
}
# "regedit /s import: 21.40 s, Tovik import: 6.59 s, regedit / Tovik = 3.2x"
compare() {
    if [ -z "$3" ]; then
        echo "$1: $2 s, Tovik: no median in $MEDIANS (run tovik-bench first)"
    else
        awk -v name="$1" -v tovik="$4" -v peer="$2" -v own="$3" \
            'BEGIN { ratio = own > 0 ? peer / own : 0; printf "%s: %.2f s, %s: %.2f s, regedit / Tovik = %.1fx\n", name, peer, tovik, own, ratio }'
    fi
}
echo
compare "regedit /s import" "$import" "$(tovik_median 'import (')" "Tovik import"
compare "regedit /e export" "$export_" "$(tovik_median 'export HKLM (')" "Tovik export"
compare "regedit /s import" "$import" "$(tovik_median 'import .reg')" "Tovik .reg v5 import"
compare "regedit /e export" "$export_" "$(tovik_median 'export HKLM as .reg')" "Tovik .reg v5 export"
