# bash completion for tracemill-export                              -*- shell-script -*-
# Options, the formats for --format, and statistics files (*.json, *.bincode) or directories
# for the input. Installed as share/bash-completion/completions/tracemill-export.

_tracemill_export_input_files()
{
    local IFS=$'\n'
    COMPREPLY+=($(compgen -d -- "$1")
        $(compgen -f -X '!*.json' -- "$1")
        $(compgen -f -X '!*.bincode' -- "$1"))
}

_tracemill_export()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    compopt -o filenames 2>/dev/null

    # With "=" among the word breaks, "--format=json" arrives as "--format" "=" "json".
    if [[ $cur == = && $prev == --format ]]; then
        cur=
    elif [[ $prev == = && $COMP_CWORD -ge 2 && ${COMP_WORDS[COMP_CWORD - 2]} == --format ]]; then
        prev=--format
    fi

    case $prev in
        -f | --format)
            compopt +o filenames 2>/dev/null
            COMPREPLY=($(compgen -W 'dot mermaid json prometheus html' -- "$cur"))
            return
            ;;
        --baseline)
            _tracemill_export_input_files "$cur"
            return
            ;;
        -h | --help | -V | --version | --focus | --depth)
            return
            ;;
    esac

    local i
    for ((i = 1; i < COMP_CWORD; i++)); do
        if [[ ${COMP_WORDS[i]} == -- ]]; then
            _tracemill_export_input_files "$cur"
            return
        fi
    done

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '-f --format --focus --depth --baseline --exact -h --help -V --version' -- "$cur"))
    else
        _tracemill_export_input_files "$cur"
    fi
}

complete -F _tracemill_export tracemill-export
