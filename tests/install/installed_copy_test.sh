#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR, under a prefix other than the
# configured one, and uses the installed copy as a user would: each program's
# --version and --help, its man page, bash completion of options and values,
# the systemd user unit and the examples.
# Usage: installed_copy_test.sh CMAKE BUILD_DIR VERSION EXAMPLES_DIR
set -euo pipefail
cmake=$1 build=$2 version=$3 examples=$4

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

prefix=/opt/recorder-test
root=$work/dest$prefix
DESTDIR=$work/dest "$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" || {
    cat "$work/install.log"
    fail "cmake --install failed"
}
export PATH=$root/bin:$PATH
# No session bus: nothing here may depend on one.
unset DBUS_SESSION_BUS_ADDRESS
export XDG_RUNTIME_DIR=$work

# The completion script lists each program's options from its --help.
# shellcheck source=/dev/null
source "$root/share/bash-completion/completions/broadcast-extension"
complete_line() {
    COMP_LINE=$1 COMP_POINT=${#1} COMPREPLY=()
    read -ra COMP_WORDS <<<"$1"
    _recorder_complete "${COMP_WORDS[0]}"
    printf '%s\n' "${COMPREPLY[@]}"
}

for program in broadcast-extension containing-app; do
    [[ -x $root/bin/$program ]] || fail "$program is not installed in bin/"
    [[ -f $root/share/bash-completion/completions/$program ]] || fail "no bash completion for $program"
    [[ $("$program" --version) == "$program $version" ]] || fail "$program --version: $("$program" --version)"
    help=$("$program" --help) || fail "$program --help failed"

    # The man page renders its sections and lists every option of --help.
    page=$root/share/man/man1/$program.1
    [[ -f $page ]] || fail "no man page for $program"
    rendered=$(LC_ALL=C MANWIDTH=80 man --nh --nj -l "$page")
    sections=(NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" ENVIRONMENT FILES)
    if grep -q '^Examples:' <<<"$help"; then sections+=(EXAMPLES); fi
    for section in "${sections[@]}"; do
        grep -qx "$section" <<<"$rendered" || fail "$program.1 has no $section section"
    done
    options=$(_recorder_long_options "$program" | tr -d =)
    [[ $options == *--help* && $options == *--version* ]] || fail "no options read from $program --help"
    listed=$(awk '/^OPTIONS$/ { on = 1; next } /^[A-Z][A-Z ]*$/ { on = 0 } on' <<<"$rendered")
    for option in $options; do
        grep -qE -- "^ +(-[[:alnum:]], )?$option( |$)" <<<"$listed" ||
            fail "$program.1 does not list $option under OPTIONS"
    done
done

# Completion offers the options and the values the program takes.
[[ $(complete_line "broadcast-extension --app-" | sort | tr '\n' ' ') == \
    "--app-channels --app-format --app-frames --app-noninterleaved --app-rate --app-source " ]] ||
    fail "completion of --app-: $(complete_line "broadcast-extension --app-" | tr '\n' ' ')"
[[ $(complete_line "containing-app --ke") == --keep ]] || fail "completion of containing-app --ke"
mkdir "$work/tmp"
runs=0
# A value is refused with status 2 or 3; a live source may fail only for want of a sound server.
try_value() {
    local status=0
    PULSE_SERVER=unix:$work/no-sound-server broadcast-extension "$1" "$2" --duration 0.05 --video-rate 0 --quiet \
        --container-root "$work/groups" --temp-dir "$work/tmp" </dev/null >/dev/null 2>"$work/err" || status=$?
    if [[ $status -eq 2 || ($status -eq 3 && $(<"$work/err") != *"sound server"*) ]]; then
        fail "completion offers $1 $2, which the program refuses: $(<"$work/err")"
    fi
    runs=$((runs + 1))
}
for format in $(complete_line "broadcast-extension --app-format "); do try_value --app-format "$format"; done
for source in $(complete_line "broadcast-extension --mic-source "); do
    case $source in
    sine:) source=sine:440 ;;
    noise:) source=noise:7 ;;
    file:) source=file:$work/groups/group.tolvix/NewRecording.wav ;;
    pulse:) source=pulse:apps.monitor ;;
    apps: | apps-except:) source=${source}player ;;
    esac
    try_value --mic-source "$source"
done
[[ $runs -ge 15 ]] || fail "completion offered too few formats and sources ($runs)"

# The units start the installed programs, wherever they were installed.
unit=$root/share/systemd/user/containing-app.service
grep -qx "ExecStart=$prefix/bin/containing-app" "$unit" || fail "containing-app.service: $(grep ExecStart "$unit")"
unit=$root/share/systemd/user/broadcast-extension-follow.service
grep -qx "ExecStart=$prefix/bin/broadcast-extension --quiet --follow --app-source apps:\${APPS}" "$unit" ||
    fail "broadcast-extension-follow.service: $(grep ExecStart "$unit")"

for example in "$examples"/*.json; do
    [[ -f $root/share/doc/broadcast_audio_recorder/examples/${example##*/} ]] || fail "${example##*/} not installed"
done
echo "installed copy: programs, man pages, completion, unit and examples in place"
