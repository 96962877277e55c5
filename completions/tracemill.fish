# fish completion for tracemill: options, a file for --output, and statistics files (*.json,
# *.bincode) or directories for the input. Installed as
# share/fish/vendor_completions.d/tracemill.fish.

function __tracemill_inputs
    set -l token (commandline -ct)
    for path in $token*
        if test -d $path
            printf '%s/\tDirectory\n' $path
        else if string match -qr '\.(json|bincode)$' -- $path
            printf '%s\tStatistics file\n' $path
        end
    end
end

complete -c tracemill -f
complete -c tracemill -s o -l output -r -F -d 'Output file (accepted and never used)'
complete -c tracemill -s h -l help -d 'Print help'
complete -c tracemill -s V -l version -d 'Print version'
complete -c tracemill -a '(__tracemill_inputs)'
