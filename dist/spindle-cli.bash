# bash completion for spindle-cli
_spindle_cli() {
    local cur prev words cword
    _init_completion || return
    local commands="mount dismount list drives label build-iso copy-disc burn erase eject close-tray devices"
    if [[ $cword -eq 1 ]]; then
        COMPREPLY=($(compgen -W "$commands --version --help" -- "$cur"))
        return
    fi
    local options=""
    case ${words[1]} in
    build-iso) options="--label --force" ;;
    copy-disc) options="--label --ignore-read-errors" ;;
    burn) options="--cue --speed --simulate --verify --copies --eject" ;;
    erase) options="--full" ;;
    esac
    case $prev in
    --label | --speed | --copies) return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    case ${words[1]} in
    mount | label) _filedir '@(iso|ISO)' ;;
    burn) _filedir '@(iso|ISO|cue|CUE)' ;;
    build-iso | copy-disc) _filedir ;;
    esac
}
complete -F _spindle_cli spindle-cli
