# fish completion for tracemill-condense: options, the values of --format and --input-format, a
# file for --output, and trace files (*.json, *.jsonl, *.gz) or directories for the inputs.
# Installed as share/fish/vendor_completions.d/tracemill-condense.fish.

function __tracemill_condense_inputs
    set -l token (commandline -ct)
    for path in $token*
        if test -d $path
            printf '%s/\tDirectory\n' $path
        else if string match -qr '\.(json|jsonl|gz)$' -- $path
            printf '%s\tTrace file\n' $path
        else if string match -qr '\.bincode$' -- $path
            printf '%s\tStatistics file\n' $path
        end
    end
end

complete -c tracemill-condense -f
complete -c tracemill-condense -s o -l output -r -F -d 'Statistics file to write (- for standard output)'
complete -c tracemill-condense -s f -l format -x -a 'json bincode' -d 'Encoding of the output'
complete -c tracemill-condense -s i -l input-format -x -a 'otlp jaeger zipkin' -d 'Format of every input'
complete -c tracemill-condense -l no-virtual-peers -d 'Add no node for the peer of a leaf client or producer span'
complete -c tracemill-condense -l shard -x -a '1/2 2/2 1/4 2/4 3/4 4/4' -d 'Condense share K of N of the traces'
complete -c tracemill-condense -l merge -d 'Merge statistics files (*.json, *.bincode) of disjoint traces'
complete -c tracemill-condense -s h -l help -d 'Print help'
complete -c tracemill-condense -s V -l version -d 'Print version'
complete -c tracemill-condense -a '(__tracemill_condense_inputs)'
