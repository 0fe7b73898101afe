#!/bin/sh
# Makes store_v4.db and store_v4_content.txt, the fourth layout's fixture: store_v3.db opened (and
# so upgraded) by a tovik-reg of the fourth layout, which then made a key with a value and a
# subkey, so that the fixture holds keys made by that layout's own code, with times of their own.
# Usage: make_store_v4.sh TOVIK_REG_OF_LAYOUT_4 (it was built from commit 1833c0c).
set -eu
reg=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
cp "$here/store_v3.db" "$work/store.db"
"$reg" --registry "$work/store.db" add-key 'HKLM\Software\Layout4\Sub'
"$reg" --registry "$work/store.db" set 'HKLM\Software\Layout4' Made DW 4
# One file, as the test copies it: the write-ahead log checkpointed into the database.
sqlite3 "$work/store.db" 'PRAGMA wal_checkpoint(TRUNCATE);' >/dev/null
test "$(sqlite3 "$work/store.db" 'PRAGMA user_version;')" = 4
cp "$work/store.db" "$here/store_v4.db"
for root in HKCR HKCU HKLM; do "$reg" --registry "$work/store.db" query "$root" -r; done >"$here/store_v4_content.txt"
rm -rf "$work"
