# SPDX-License-Identifier: MIT
# fish completion for exitwise

set -l commands list show export diagnose watch version

complete -c exitwise -f
complete -c exitwise -n "not __fish_seen_subcommand_from $commands" -a list -d 'List the recorded closures'
complete -c exitwise -n "not __fish_seen_subcommand_from $commands" -a show -d 'Explain one closure'
complete -c exitwise -n "not __fish_seen_subcommand_from $commands" -a export -d 'Write the history as CSV or JSON'
complete -c exitwise -n "not __fish_seen_subcommand_from $commands" -a diagnose -d 'Diagnose signals read as JSON'
complete -c exitwise -n "not __fish_seen_subcommand_from $commands" -a watch -d 'Record closures without the desktop app'
complete -c exitwise -n "not __fish_seen_subcommand_from $commands" -a version -d 'Print the diagnosis version'
complete -c exitwise -n "not __fish_seen_subcommand_from $commands" -l background -d 'Start in the tray'
complete -c exitwise -n "not __fish_seen_subcommand_from $commands" -l version -d 'Print the diagnosis version'
complete -c exitwise -s h -l help -d 'Show help'

complete -c exitwise -n "__fish_seen_subcommand_from list" -l since -x -a 'today yesterday' -d 'At or after this time'
complete -c exitwise -n "__fish_seen_subcommand_from list" -l until -x -a 'today yesterday' -d 'Before this time'
complete -c exitwise -n "__fish_seen_subcommand_from list" -l app -x -d 'Only this application'
complete -c exitwise -n "__fish_seen_subcommand_from list" -l state -x -a 'crash killed clean blocked' -d 'Only this end state'
complete -c exitwise -n "__fish_seen_subcommand_from list" -l limit -x -d 'At most this many'
complete -c exitwise -n "__fish_seen_subcommand_from list" -l no-legend -d 'No header line'
complete -c exitwise -n "__fish_seen_subcommand_from list show watch" -l json -d 'As JSON'
complete -c exitwise -n "__fish_seen_subcommand_from watch" -l no-journal-entry -d 'Do not log closures to the journal'
complete -c exitwise -n "__fish_seen_subcommand_from show" -a latest -d 'The newest closure'
complete -c exitwise -n "__fish_seen_subcommand_from export" -l format -x -a 'csv json' -d 'Output format'
complete -c exitwise -n "__fish_seen_subcommand_from export" -l output -r -F -d 'File to write, - for standard output'
complete -c exitwise -n "__fish_seen_subcommand_from diagnose" -l input -r -F -d 'JSON input file'
complete -c exitwise -n "__fish_seen_subcommand_from diagnose" -l collect -d 'Ask the evidence providers'
complete -c exitwise -n "__fish_seen_subcommand_from diagnose" -l report-dir -x -a '(__fish_complete_directories)' -d 'Report directory'
complete -c exitwise -n "__fish_seen_subcommand_from diagnose" -l journal-dir -x -a '(__fish_complete_directories)' -d 'Journal directory'
