# fish completion for tracemill-export: options, the formats for --format, and statistics files
# (*.json, *.bincode) or directories for the input. Installed as
# share/fish/vendor_completions.d/tracemill-export.fish.

function __tracemill_export_inputs
    set -l token (commandline -ct)
    for path in $token*
        if test -d $path
            printf '%s/\tDirectory\n' $path
        else if string match -qr '\.(json|bincode)$' -- $path
            printf '%s\tStatistics file\n' $path
        end
    end
end

complete -c tracemill-export -f
complete -c tracemill-export -s f -l format -x -a 'dot mermaid json prometheus html' -d 'Output format'
complete -c tracemill-export -l focus -x -d 'Only the calls near this service'
complete -c tracemill-export -l depth -x -d 'How many calls from the focus'
complete -c tracemill-export -l baseline -x -a '(__tracemill_export_inputs)' -d 'Compare with the graph of an earlier period'
complete -c tracemill-export -l exact -d 'Exact latency quantiles'
complete -c tracemill-export -s h -l help -d 'Print help'
complete -c tracemill-export -s V -l version -d 'Print version'
complete -c tracemill-export -a '(__tracemill_export_inputs)'
