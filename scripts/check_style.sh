#!/bin/sh
# Checks the tree's style: the layout of every C++ file against .clang-format, and the naming rule
# of .clang-tidy on the sources of BUILD's compile_commands.json (all of them, or FILES).
#   scripts/check_style.sh BUILD [FILES...]
# Exits 1 when a file is laid out differently or a name breaks the rule.
set -u
cd "$(dirname "$0")/.."
BUILD=${1:?usage: scripts/check_style.sh BUILD [FILES...]}
shift
status=0
sources=$(git ls-files '*.cpp' '*.h')
if ! clang-format --dry-run --Werror $sources; then
    echo "style: layout differs from .clang-format (make format rewrites it)"
    status=1
fi
if [ $# -eq 0 ]; then
    set -- $(git ls-files '*.cpp')
fi
if ! run-clang-tidy -quiet -p "$BUILD" -j "${JOBS:-2}" "$@" >"$BUILD/clang-tidy.log" 2>&1; then
    grep -E 'warning:|error:' "$BUILD/clang-tidy.log" | sort -u | head -n 100
    echo "style: names break the rule of .clang-tidy (full log: $BUILD/clang-tidy.log)"
    status=1
fi
exit $status
