# bash completion for tracemill                                     -*- shell-script -*-
# Options, a file for --output, and statistics files (*.json, *.bincode) or directories for
# the input. Installed as share/bash-completion/completions/tracemill.

_tracemill_input_files()
{
    local IFS=$'\n'
    COMPREPLY+=($(compgen -d -- "$1")
        $(compgen -f -X '!*.json' -- "$1")
        $(compgen -f -X '!*.bincode' -- "$1"))
}

_tracemill()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    compopt -o filenames 2>/dev/null

    # With "=" among the word breaks, "--output=FILE" arrives as "--output" "=" "FILE".
    if [[ $cur == = && $prev == --output ]]; then
        cur=
    elif [[ $prev == = && $COMP_CWORD -ge 2 && ${COMP_WORDS[COMP_CWORD - 2]} == --output ]]; then
        prev=--output
    fi

    case $prev in
        -o | --output)
            local IFS=$'\n'
            COMPREPLY=($(compgen -f -- "$cur"))
            return
            ;;
        -h | --help | -V | --version)
            return
            ;;
    esac

    local i
    for ((i = 1; i < COMP_CWORD; i++)); do
        if [[ ${COMP_WORDS[i]} == -- ]]; then
            _tracemill_input_files "$cur"
            return
        fi
    done

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '-o --output -h --help -V --version' -- "$cur"))
    else
        _tracemill_input_files "$cur"
    fi
}

complete -F _tracemill tracemill
