# bash completion for spindle-cli: the commands, each command's options,
# image files where an image goes, and drive letters where a letter goes:
# the mounted drives for dismount, the free letters for mount, the drive
# table's letters for the recorder and disc commands.

# The letters of the drive table in the user's runtime folder ("K:").
_spindle_cli_table() {
    local dir=${SPINDLE_RUNTIME_DIR:-${XDG_RUNTIME_DIR:+$XDG_RUNTIME_DIR/spindle}}
    dir=${dir:-/tmp/spindle-$(id -u)}
    local f
    for f in "$dir"/dosdevices/?:; do
        [[ -e $f ]] && printf '%s\n' "${f##*/}"
    done
}

# _spindle_cli_letters PROGRAM mounted|free|table
_spindle_cli_letters() {
    case $2 in
    mounted) "$1" list 2>/dev/null | cut -f1 ;;
    table) _spindle_cli_table ;;
    free)
        local used=" $(_spindle_cli_table | tr '\n' ' ')" l
        for l in {A..Z}; do
            [[ $used == *" $l:"* ]] || printf '%s\n' "$l:"
        done
        ;;
    esac
}

_spindle_cli() {
    local cur prev words cword
    _init_completion -n : || return
    local commands="mount dismount list drives label build-iso copy-disc burn erase eject close-tray devices"
    if [[ $cword -eq 1 ]]; then
        COMPREPLY=($(compgen -W "$commands --version --help" -- "$cur"))
        return
    fi
    local command=${words[1]} options="--help"
    case $command in
    list | devices) options+=" --json" ;;
    build-iso) options+=" --label --force --quiet" ;;
    copy-disc) options+=" --label --ignore-read-errors" ;;
    burn) options+=" --cue --speed --simulate --verify --copies --eject" ;;
    erase) options+=" --full" ;;
    esac
    case $prev in
    --label | --speed | --copies) return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    # Which argument this is, options and their values left out.
    local i n=0 skip=0
    for ((i = 2; i < cword; i++)); do
        if ((skip)); then
            skip=0
            continue
        fi
        case ${words[i]} in
        --label | --speed | --copies) skip=1 ;;
        -*) ;;
        *) ((n++)) ;;
        esac
    done
    local letters=""
    case $command:$n in
    mount:0 | label:0) _filedir '@(iso|ISO)' ;;
    burn:0) _filedir '@(iso|ISO|cue|CUE)' ;;
    build-iso:* | copy-disc:1) _filedir ;;
    mount:1) letters=free ;;
    dismount:0) letters=mounted ;;
    burn:1 | copy-disc:0 | erase:0 | eject:0 | close-tray:0) letters=table ;;
    esac
    if [[ -n $letters ]]; then
        COMPREPLY=($(compgen -W "$(_spindle_cli_letters "${words[0]}" $letters)" -- "$cur"))
        __ltrim_colon_completions "$cur"
    fi
}
complete -F _spindle_cli spindle-cli
