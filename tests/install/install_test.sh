#!/usr/bin/env bash
# install_test.sh BUILD VERSION: installs BUILD into a temporary prefix, then
# from another folder checks the installed programs, the desktop entry, the
# man pages, the shell completion and the driver's unit. Runs under Xvfb.
set -uo pipefail
build=$1 version=$2
tmp=$(mktemp -d /tmp/spindle-install-XXXXXX)
window=""
cleanup() {
    [ -n "$window" ] && kill -KILL "$window" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# wait_until SECONDS COMMAND...: runs COMMAND until it succeeds or SECONDS
# (stretched by SPINDLE_TEST_TIME_SCALE, as the other tests' limits are)
# have passed; whether it succeeded.
wait_until() {
    local end=$((SECONDS + $1 * ${SPINDLE_TEST_TIME_SCALE:-1}))
    shift
    until "$@"; do
        [ "$SECONDS" -lt "$end" ] || return 1
        sleep 0.1 # the one pause between checks of a condition that sends no signal
    done
}

prefix=$tmp/prefix
cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1 || { cat "$tmp/install.log"; exit 1; }
mkdir "$tmp/elsewhere" && cd "$tmp/elsewhere" || exit 1
export SPINDLE_RUNTIME_DIR=$tmp/run SPINDLE_CONFIG_DIR=$tmp/config SPINDLE_STATE_DIR=$tmp/state
mkdir -p "$SPINDLE_CONFIG_DIR" && echo "media = off" >"$SPINDLE_CONFIG_DIR/drives.conf" # nothing in the real home
unset SPINDLE_PROGRAM_DIR

for program in spindle spindle-cli spindle-driver; do
    got=$("$prefix/bin/$program" --version 2>&1)
    [ "$got" = "$program $version" ] || fail "$program --version printed '$got', not '$program $version'"
done

# The window comes up with its title from the installed language file, and
# closes cleanly on SIGTERM.
"$prefix/bin/spindle" 2>"$tmp/window.err" &
window=$!
window_or_end() {
    xwininfo -root -children 2>/dev/null | grep -q '"Spindle": (' || ! kill -0 "$window" 2>/dev/null
}
wait_until 30 window_or_end
xwininfo -root -children 2>/dev/null | grep -q '"Spindle": (' || fail "the installed spindle shows no window titled Spindle: $(cat "$tmp/window.err")"
kill -TERM "$window" 2>/dev/null
wait "$window"; status=$?
window=""
[ "$status" -eq 0 ] || fail "the installed spindle ended with status $status after SIGTERM"

desktop=$prefix/share/applications/spindle.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate refuses $desktop"
grep -qx "Exec=$prefix/bin/spindle --mount %f" "$desktop" || fail "the Mount action does not run the installed spindle"
# Every image type the desktop entry names is known to the MIME database
# (Debian's or the one installed beside it), so "Open with" offers Spindle.
mimeTypes=$(sed -n 's/^MimeType=//p' "$desktop" | tr ';' ' ')
mkdir -p "$tmp/mime/packages"
cp /usr/share/mime/packages/*.xml "$prefix/share/mime/packages/spindle.xml" "$tmp/mime/packages/"
update-mime-database "$tmp/mime" >/dev/null 2>&1 || fail "update-mime-database refuses spindle.xml"
for type in $mimeTypes; do
    grep -q "^$type\$" "$tmp/mime/types" || grep -q "^$type " "$tmp/mime/aliases" ||
        fail "the MIME type $type is not known"
done
for size in 16 32 48 64 128; do
    [ -s "$prefix/share/icons/hicolor/${size}x${size}/apps/spindle.png" ] || fail "no ${size}px icon"
done
svg=$prefix/share/icons/hicolor/scalable/apps/spindle.svg
xmllint --noout "$svg" 2>/dev/null && ! grep -q 'href="[^#]' "$svg" ||
    fail "the scalable icon is no self-contained SVG"
metainfo=$prefix/share/metainfo/org.example.spindle.metainfo.xml
appstreamcli validate --no-net "$metainfo" >"$tmp/appstream.log" 2>&1 ||
    fail "appstreamcli validate refuses $metainfo: $(cat "$tmp/appstream.log")"
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo names no release $version"

for page in spindle spindle-cli spindle-driver; do
    file=$prefix/share/man/man1/$page.1
    out=$(MANWIDTH=80 man -l -Tutf8 "$file" 2>"$tmp/man.err") || fail "man -l $page.1 failed"
    [ -s "$tmp/man.err" ] && fail "man -l $page.1 warns: $(cat "$tmp/man.err")"
    grep -q "Spindle $version" <<<"$out" || fail "$page.1 does not render with the build's version"
done

completion=$prefix/share/bash-completion/completions/spindle-cli
got=$(bash -c 'source /usr/share/bash-completion/bash_completion && source "$1" &&
    COMP_WORDS=(spindle-cli bu) COMP_CWORD=1 COMP_LINE="spindle-cli bu" COMP_POINT=14 &&
    _spindle_cli && echo "${COMPREPLY[*]}"' _ "$completion" 2>&1)
[ "$got" = "build-iso burn" ] || fail "completing 'spindle-cli bu' gave '$got'"
complete_line() { # WORDS...: what completing the last word offers
    bash -c 'source /usr/share/bash-completion/bash_completion && source "$1" && shift &&
        COMP_WORDS=("$@") COMP_CWORD=$(($# - 1)) COMP_LINE="$*" COMP_POINT=${#COMP_LINE} &&
        _spindle_cli && echo "${COMPREPLY[*]}"' _ "$completion" "$@" 2>&1
}
got=$(complete_line spindle-cli list --)
[ "$got" = "--help --json" ] || fail "completing 'spindle-cli list --' gave '$got'"
"$prefix/bin/spindle-cli" drives >/dev/null 2>&1 # the drive table exists from here on
got=$(complete_line spindle-cli eject "")
[[ " $got " == *" C: "* ]] || fail "completing 'spindle-cli eject ' offered no letter of the table: '$got'"
got=$(complete_line spindle-cli mount disc.iso "")
[[ " $got " == *" Z: "* && " $got " != *" C: "* ]] ||
    fail "completing the letter of 'spindle-cli mount' did not offer the free letters: '$got'"

# A user manager is rarely running in a test; the system manager's view of
# the same file checks it equally.
unit=$prefix/lib/systemd/user/spindle-driver.service
grep -qx "ExecStart=$prefix/bin/spindle-driver --restore" "$unit" || fail "the unit does not start the installed driver"
if ! systemd-analyze --user verify --man=no "$unit" >/dev/null 2>&1; then
    systemd-analyze verify --man=no "$unit" || fail "systemd-analyze refuses $unit"
fi

# The Mount action run as a file manager runs it: the Exec line with %f
# replaced by a path with blanks and non-ASCII letters, against a private
# driver. The folder opener is a stand-in that records what it was given.
if [ -c /dev/fuse ] && command -v genisoimage >/dev/null; then
    mkdir -p "$tmp/src" "$tmp/opener" && echo a >"$tmp/src/a.txt"
    image="$tmp/Disc images/Ärger & mehr.iso"
    mkdir -p "$(dirname "$image")"
    genisoimage -quiet -V ACTION -o "$image" "$tmp/src"
    printf '#!/bin/sh\nprintf "%%s" "$1" >"%s/opened"\n' "$tmp" >"$tmp/opener/xdg-open"
    chmod +x "$tmp/opener/xdg-open"
    "$prefix/bin/spindle-driver" &
    driver=$!
    wait_until 10 "$prefix/bin/spindle-driver" --status
    exec_line=$(sed -n "/^\[Desktop Action Mount\]/,/^\[/s/^Exec=//p" "$desktop")
    # As the launcher does it: the line split into words, %f becoming one
    # argument, no shell in between.
    read -ra words <<<"$exec_line"
    for i in "${!words[@]}"; do [ "${words[$i]}" = "%f" ] && words[$i]=$image; done
    PATH="$tmp/opener:$PATH" "${words[@]}" || fail "the Mount action failed: $exec_line"
    wait_until 5 test -e "$tmp/opened"
    listed=$("$prefix/bin/spindle-cli" list 2>&1)
    grep -qF "$image" <<<"$listed" || fail "the Mount action mounted nothing: $listed"
    letter=$(grep -F "$image" <<<"$listed" | cut -c1)
    [ "$(cat "$tmp/opened" 2>/dev/null)" = "$SPINDLE_RUNTIME_DIR/drives/$letter/" ] ||
        fail "the Mount action opened '$(cat "$tmp/opened" 2>/dev/null)', not drive $letter's folder"
    [ -e "$SPINDLE_RUNTIME_DIR/drives/$letter/A.TXT" ] || [ -e "$SPINDLE_RUNTIME_DIR/drives/$letter/a.txt" ] ||
        fail "drive $letter does not show the image's file"
    kill -TERM "$driver" && wait "$driver"
else
    echo "skipped the Mount action: no FUSE or no genisoimage"
fi

[ "$failures" -eq 0 ] && echo "install: all checks passed"
exit $((failures > 0))
