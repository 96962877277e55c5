# bash completion for tracemill-condense                            -*- shell-script -*-
# Options, the values of --format and --input-format, a file for --output, and trace files
# (*.json, *.jsonl, *.gz) or directories for the inputs; after --merge, statistics files
# (*.json, *.bincode). Installed as
# share/bash-completion/completions/tracemill-condense.

_tracemill_condense_input_files()
{
    local IFS=$'\n' word
    for word in "${COMP_WORDS[@]}"; do
        if [[ $word == --merge ]]; then
            COMPREPLY+=($(compgen -d -- "$1")
                $(compgen -f -X '!*.json' -- "$1")
                $(compgen -f -X '!*.bincode' -- "$1"))
            return
        fi
    done
    COMPREPLY+=($(compgen -d -- "$1")
        $(compgen -f -X '!*.json' -- "$1")
        $(compgen -f -X '!*.jsonl' -- "$1")
        $(compgen -f -X '!*.gz' -- "$1"))
}

_tracemill_condense()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    compopt -o filenames 2>/dev/null

    # After "--" every word is an input.
    local i
    for ((i = 1; i < COMP_CWORD; i++)); do
        if [[ ${COMP_WORDS[i]} == -- ]]; then
            _tracemill_condense_input_files "$cur"
            return
        fi
    done

    # With "=" among the word breaks, "--format=json" arrives as "--format" "=" "json".
    local before=
    ((COMP_CWORD >= 2)) && before=${COMP_WORDS[COMP_CWORD - 2]}
    case $cur/$prev/$before in
        =/--output/* | =/--format/* | =/--input-format/* | =/--shard/*)
            cur=
            ;;
        */=/--output | */=/--format | */=/--input-format | */=/--shard)
            prev=$before
            ;;
    esac

    case $prev in
        -o | --output)
            local IFS=$'\n'
            COMPREPLY=($(compgen -f -- "$cur"))
            return
            ;;
        -f | --format)
            compopt +o filenames 2>/dev/null
            COMPREPLY=($(compgen -W 'json bincode' -- "$cur"))
            return
            ;;
        -i | --input-format)
            compopt +o filenames 2>/dev/null
            COMPREPLY=($(compgen -W 'otlp jaeger zipkin' -- "$cur"))
            return
            ;;
        --shard)
            compopt +o filenames 2>/dev/null
            COMPREPLY=($(compgen -W '1/2 2/2 1/4 2/4 3/4 4/4' -- "$cur"))
            return
            ;;
        -h | --help | -V | --version)
            return
            ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '-o --output -f --format -i --input-format --no-virtual-peers
            --shard --merge -h --help -V --version' -- "$cur"))
    else
        _tracemill_condense_input_files "$cur"
    fi
}

complete -F _tracemill_condense tracemill-condense
