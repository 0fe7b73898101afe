#!/bin/sh
# Installs the build into a scratch root as a package would (prefix /usr, DESTDIR) and checks
# what the desktop, man and bash find there.  Usage: install_layout_test.sh CMAKE BUILD_DIR
set -u
cmake=$1
build=$2
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
skip() { echo "SKIP: $*"; }

if ! DESTDIR=$root "$cmake" --install "$build" --prefix /usr >"$root/install.log" 2>&1; then
    cat "$root/install.log"
    echo "FAIL: cmake --install"
    exit 1
fi
usr=$root/usr
share=$usr/share

# Where the desktop, the icon theme, AppStream, man and bash-completion look.
for program in tovik tovik-reg; do
    [ -x "$usr/bin/$program" ] || fail "$program is not an executable in /usr/bin"
done
desktop=$share/applications/tovik.desktop
metainfo=$share/metainfo/io.github.tovik.Tovik.metainfo.xml
completion=$share/bash-completion/completions/tovik-reg
for file in "$desktop" "$metainfo" "$completion" "$share/icons/hicolor/scalable/apps/tovik.svg" \
    "$share/man/man1/tovik.1.gz" "$share/man/man1/tovik-reg.1.gz" "$share/doc/tovik/copyright" \
    "$share/doc/tovik/changelog.gz"; do
    [ -s "$file" ] || fail "missing: ${file#"$root"}"
done

# Each PNG icon lies in the folder of its own size (width and height from the IHDR chunk).
for size in 16 32 48 64 128 256; do
    icon=$share/icons/hicolor/${size}x${size}/apps/tovik.png
    if [ ! -s "$icon" ]; then
        fail "missing: ${icon#"$root"}"
        continue
    fi
    # shellcheck disable=SC2046 # the eight bytes, one word each
    set -- $(od -An -tu1 -j16 -N8 "$icon")
    width=$(($1 * 16777216 + $2 * 65536 + $3 * 256 + $4))
    height=$(($5 * 16777216 + $6 * 65536 + $7 * 256 + $8))
    if [ "$width" != "$size" ] || [ "$height" != "$size" ]; then
        fail "icon ${size}x${size} is ${width}x${height}"
    fi
done

# The menu entry starts an installed program and names an installed icon.
exec_line=$(sed -n 's/^Exec=//p' "$desktop")
[ -x "$usr/bin/${exec_line%% *}" ] || fail "Exec=$exec_line is not an installed program"
icon_name=$(sed -n 's/^Icon=//p' "$desktop")
[ -s "$share/icons/hicolor/48x48/apps/$icon_name.png" ] || fail "Icon=$icon_name is not an installed icon"
grep -q "<launchable type=\"desktop-id\">tovik.desktop</launchable>" "$metainfo" ||
    fail "the metainfo does not launch tovik.desktop"
for tag in '<project_license>MIT</project_license>' '<developer_name>' '<developer id=' '<url type="homepage">'; do
    grep -q "$tag" "$metainfo" || fail "the metainfo has no $tag"
done

if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate"
else
    skip "desktop-file-validate is not installed (desktop-file-utils)"
fi
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$metainfo" >"$root/appstream.log" 2>&1 ||
        { cat "$root/appstream.log"; fail "appstreamcli validate"; }
else
    skip "appstreamcli is not installed (appstream)"
fi

# One version everywhere: the programs, the manual pages, the metainfo's newest release.
version=$("$usr/bin/tovik-reg" --version | sed -n 's/^tovik-reg //p')
[ -n "$version" ] || fail "tovik-reg --version prints no version"
[ "$("$usr/bin/tovik" --version)" = "tovik $version" ] || fail "tovik --version is not tovik $version"
for page in tovik tovik-reg; do
    gzip -dc "$share/man/man1/$page.1.gz" >"$root/$page.1"
    grep -q "^\.TH .*\"Tovik $version\"" "$root/$page.1" || fail "$page(1) is not of version $version"
done
[ "$(gzip -dc "$share/doc/tovik/changelog.gz" | sed -n '1s/^tovik (\([^)]*\)).*/\1/p')" = "$version" ] ||
    fail "the changelog's newest entry is not of version $version"
grep -q "^License: MIT" "$share/doc/tovik/copyright" || fail "the copyright names no MIT license"
release=$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$metainfo" | head -n 1)
[ "$release" = "$version" ] || fail "the metainfo's newest release is $release, not $version"

# The manual page and the completion know every command and option that --help lists (the
# English help, which the English page follows).
help=$(LANGUAGE=en "$usr/bin/tovik-reg" --help)
commands=$(printf '%s\n' "$help" | sed -n '/^Commands:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p')
[ "$(printf '%s\n' "$commands" | wc -l)" -ge 7 ] || fail "tovik-reg --help lists too few commands: $commands"
options=$(printf '%s\n' "$help" | sed -n '/^Options:/,/^$/p' | grep -o -- '--*[a-z][a-z-]*' | sort -u)
page_text=$(sed 's/\\-/-/g' "$root/tovik-reg.1")
for word in $commands $options -r; do
    printf '%s\n' "$page_text" | grep -q -- "^\.B[IR]* \(.* \)*\"*$word\( \|\"\|$\)" || fail "tovik-reg(1) does not name $word"
done
# The Japanese page of tovik-reg, made from the Japanese help, names every command too.
gzip -dc "$share/man/ja/man1/tovik-reg.1.gz" >"$root/tovik-reg.ja.1" || fail "no Japanese tovik-reg(1)"
grep -q "^\.TH .*\"Tovik $version\"" "$root/tovik-reg.ja.1" || fail "the Japanese tovik-reg(1) is not of version $version"
for word in $commands; do
    sed 's/\\-/-/g' "$root/tovik-reg.ja.1" | grep -q -- "^\.B $word\( \|$\)" || fail "the Japanese tovik-reg(1) does not name $word"
done
if command -v groff >/dev/null; then
    for page in tovik tovik-reg; do
        warnings=$(groff -man -ww -z "$root/$page.1" 2>&1)
        [ -z "$warnings" ] || fail "$page(1): $warnings"
    done
    warnings=$(groff -k -Tutf8 -man -ww -z "$root/tovik-reg.ja.1" 2>&1)
    [ -z "$warnings" ] || fail "the Japanese tovik-reg(1): $warnings"
else
    skip "groff is not installed: the manual pages were not formatted"
fi

completed=$(bash -c '. "$1"; COMP_WORDS=(tovik-reg ""); COMP_CWORD=1; _tovik_reg; printf "%s\n" "${COMPREPLY[@]}"' \
    sh "$completion" | sort)
[ "$completed" = "$(printf '%s\n' "$commands" | sort)" ] ||
    fail "the completion offers the commands [$completed], --help lists [$commands]"
completed=$(bash -c '. "$1"; COMP_WORDS=(tovik-reg -); COMP_CWORD=1; _tovik_reg; printf "%s\n" "${COMPREPLY[@]}"' \
    sh "$completion")
for option in $options; do
    [ "$option" = -h ] || printf '%s\n' "$completed" | grep -qx -- "$option" ||
        fail "the completion does not offer $option"
done

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "install layout: all checks passed"
