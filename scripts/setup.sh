#!/bin/sh
# Installs the Debian packages the build and the tests need, only when some are missing.
# reglookup is a second reader of hive files (the tests check the key times Tovik writes with it);
# mandoc lints the manual pages.
set -e
PACKAGES="cmake ninja-build g++ pkg-config zsh fish qt6-base-dev libgl-dev libsqlite3-dev sqlite3 libgtest-dev libgmock-dev libbenchmark-dev libhivex-dev libhivex-bin reglookup mandoc fonts-noto-cjk qt6-tools-dev qt6-l10n-tools qt6-translations-l10n nlohmann-json3-dev libyaml-cpp-dev"
# make fuzz needs clang with libFuzzer as well.
if [ -n "$TOVIK_SETUP_FUZZ" ]; then PACKAGES="$PACKAGES clang libclang-rt-14-dev"; fi
# make style needs clang-format and clang-tidy (with run-clang-tidy).
if [ -n "$TOVIK_SETUP_STYLE" ]; then PACKAGES="$PACKAGES clang-format clang-tidy"; fi
# The checks with Wine itself run only when asked for (a fresh prefix takes about a minute).
if [ "$TOVIK_TEST_WINE" = 1 ]; then PACKAGES="$PACKAGES wine"; fi
# make package needs dpkg-shlibdeps and file to compute the package's dependencies, and make
# lintian checks the package with lintian.
if [ -n "$TOVIK_SETUP_PACKAGE" ]; then PACKAGES="dpkg-dev file lintian"; fi
missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends $missing
