#!/bin/sh
# Runs every fuzz target of BUILD (default build-fuzz) on its seed corpus, for SECONDS each
# (default 60), or for RUNS executions each when RUNS is given. New inputs go to
# BUILD/fuzz-corpus/TARGET, crashes to BUILD/fuzz-artifacts/. Exits 1 when any target failed.
#   fuzz/run_fuzz.sh [BUILD] [SECONDS] [RUNS]
set -u
cd "$(dirname "$0")/.."
BUILD=${1:-build-fuzz}
SECONDS_EACH=${2:-60}
RUNS=${3:-}
status=0
# Longest input per target: two of the backup reader's 1024-byte blocks; a .reg file of a few
# dozen lines; a long data text; sixteen arguments; a few Wine registry keys; a small hive; a small
# hive to write to.
for target in backup_import:2048 regfile_import:4096 value_text:4096 command_line:1024 wine_file:4096 \
    hive_open:16384 hive_write:16384; do
    maxlen=${target#*:}
    target=${target%:*}
    seeds=fuzz/corpus/$target
    work=$BUILD/fuzz-corpus/$target
    mkdir -p "$work" "$BUILD/fuzz-artifacts"
    if [ -n "$RUNS" ]; then limit="-runs=$RUNS"; else limit="-max_total_time=$SECONDS_EACH"; fi
    log=$BUILD/fuzz-$target.log
    echo "fuzz_$target: $limit"
    "$BUILD/fuzz/fuzz_$target" "$work" "$seeds" $limit -max_len=$maxlen -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$BUILD/fuzz-artifacts/$target-" >"$log" 2>&1
    rc=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz_$target: exit $rc, ${runs:-0} executions"
    if [ $rc -ne 0 ]; then
        status=1
        tail -n 40 "$log"
    fi
done
exit $status
