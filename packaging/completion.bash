# bash completion for broadcast-extension and containing-app.
#
# Option names come from the program's own --help, so completion follows the
# program it completes; values are offered for the options that take a source
# kind (with the sound server's source and app names), a sample format, a
# scenario file or a directory.

# Prints the long options that the help of program $1 lists, one a line,
# followed by "=" when the option takes a value (a placeholder after a single
# space or an "=", as in "--duration SECONDS   ..." or "--keep=DIR").
_recorder_long_options() {
    "$1" --help 2>/dev/null | sed -nE \
        -e 's/^ +(-[[:alnum:]], *)?(--[[:alnum:]][[:alnum:]-]*)( [^ ]|\[?=).*/\2=/p' \
        -e 's/^ +(-[[:alnum:]], *)?(--[[:alnum:]][[:alnum:]-]*)( .*)?$/\2/p'
}

_recorder_complete() {
    # Words are split at blanks only, so "file:song.flac" and "--opt=value"
    # stay whole; what readline replaces is trimmed to fit below.
    local line=${COMP_LINE:0:COMP_POINT}
    local cur=${line##*[[:space:]]}
    local before=${line%"$cur"}
    before=${before%"${before##*[![:space:]]}"}
    local prev=${before##*[[:space:]]}
    if [[ $cur == --*=* ]]; then
        prev=${cur%%=*}
        cur=${cur#*=}
    fi

    local options option takes_value=""
    options=$(_recorder_long_options "$1")
    for option in $options; do
        [[ $option == "$prev=" ]] && takes_value=1
    done

    local candidates=()
    case $prev in
    --app-source | --mic-source)
        if [[ $cur == file:* ]]; then
            compopt -o filenames 2>/dev/null
            mapfile -t candidates < <(compgen -f -- "${cur#file:}" | sed 's/^/file:/')
        elif [[ $cur == pulse:* || $cur == apps:* || $cur == apps-except:* ]]; then
            # What the sound server has now, from the program's own listing:
            # source names after pulse:, app names and binaries after apps:.
            local listing names IFS=$'\n'
            listing=$(timeout 2 "$1" --list-sources --json 2>/dev/null)
            if [[ $cur == pulse:* ]]; then
                names=$(sed -n '/^  "sources"/,/^  \]/s/^ *{"name":"\([^"]*\)".*/\1/p' <<<"$listing")
            else
                names=$(sed -n '/^  "apps"/,/^  \]/s/^ *{"name":"\([^"]*\)","binary":"\([^"]*\)".*/\1\n\2/p' \
                    <<<"$listing" | sort -u)
            fi
            # In a list, the name after the last comma is completed.
            local head=${cur%"${cur##*[:,]}"}
            mapfile -t candidates < <(compgen -W "$names" -- "${cur#"$head"}" | sed "s|^|$head|")
        else
            mapfile -t candidates < <(compgen -W 'sine: tones noise noise: silence file: - pulse pulse: apps: apps-except: none' -- "$cur")
        fi
        ;;
    --app-format | --mic-format)
        mapfile -t candidates < <(compgen -W 's8 s16le s16be s24le s24be s32le s32be f32le f32be f64le f64be' -- "$cur")
        ;;
    --scenario)
        compopt -o filenames 2>/dev/null
        mapfile -t candidates < <(compgen -d -- "$cur"; compgen -f -X '!*.json' -- "$cur")
        ;;
    --container-root | --temp-dir | --keep)
        compopt -o filenames 2>/dev/null
        mapfile -t candidates < <(compgen -d -- "$cur")
        ;;
    *)
        # A number or other value of the user's own: nothing to offer.
        [[ -n $takes_value ]] && return 0
        mapfile -t candidates < <(compgen -W "${options//=/}" -- "$cur")
        ;;
    esac

    # Readline replaces only what follows the last ":" of the word.
    local typed=""
    if [[ $COMP_WORDBREAKS == *:* && $cur == *:* ]]; then typed=${cur%"${cur##*:}"}; fi
    COMPREPLY=("${candidates[@]#"$typed"}")
    if [[ ${#COMPREPLY[@]} -eq 1 && ${candidates[0]} == *: ]]; then compopt -o nospace 2>/dev/null; fi
    return 0
}

complete -F _recorder_complete broadcast-extension containing-app
