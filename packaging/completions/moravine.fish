# fish completion for moravine
set -l commands compress decompress cat test list info search remove-compressed remove-original
complete -c moravine -f
complete -c moravine -n "not __fish_seen_subcommand_from $commands" -a compress -d 'Compress each file to FILE.hwz'
complete -c moravine -n "not __fish_seen_subcommand_from $commands" -a decompress -d 'Decompress each FILE.hwz to FILE'
complete -c moravine -n "not __fish_seen_subcommand_from $commands" -a cat -d 'Decompress to standard output'
complete -c moravine -n "not __fish_seen_subcommand_from $commands" -a test -d 'Check compressed files'
complete -c moravine -n "not __fish_seen_subcommand_from $commands" -a list -d 'A table of compressed files'
complete -c moravine -n "not __fish_seen_subcommand_from $commands" -a info -d 'Statistics report of compressed files'
complete -c moravine -n "not __fish_seen_subcommand_from $commands" -a search -d 'Search compressed files for a word'
complete -c moravine -n "not __fish_seen_subcommand_from $commands" -a remove-compressed -d 'Remove FILE.hwz where FILE is present'
complete -c moravine -n "not __fish_seen_subcommand_from $commands" -a remove-original -d 'Remove FILE where FILE.hwz holds its text'

complete -c moravine -s q -l quiet -d 'No status texts or progress bar'
complete -c moravine -s j -l jobs -x -d 'Jobs that run at the same time'
complete -c moravine -l log -r -F -d 'Write the log to this file'
complete -c moravine -l color -x -a 'auto always never' -d 'Colour the hits'
complete -c moravine -l version -d 'Show the version'
complete -c moravine -n "__fish_seen_subcommand_from $commands" -l files-from -r -F -d 'Also work on the paths listed in this file'
complete -c moravine -n "__fish_seen_subcommand_from $commands" -l null -d 'The list is separated by NUL bytes'

complete -c moravine -n '__fish_seen_subcommand_from compress' -l spaceless -d 'Spaceless model (default)'
complete -c moravine -n '__fish_seen_subcommand_from compress' -l words -d 'Words-and-separators model'
complete -c moravine -n '__fish_seen_subcommand_from compress' -l distance -x -d 'Auxiliary pointer distance'
complete -c moravine -n '__fish_seen_subcommand_from compress decompress' -s c -l stdout -d 'Write to standard output'
complete -c moravine -n '__fish_seen_subcommand_from compress decompress' -s f -l force -d 'Replace existing outputs'
complete -c moravine -n '__fish_seen_subcommand_from test info' -s v -l verbose -d 'More detail'
complete -c moravine -n '__fish_seen_subcommand_from list' -l format -x -a 'table json' -d 'Output format'
complete -c moravine -n '__fish_seen_subcommand_from search' -s e -l errors -x -d 'Errors allowed'
complete -c moravine -n '__fish_seen_subcommand_from search' -l format -x -a 'text tsv json' -d 'Row format'
complete -c moravine -n '__fish_seen_subcommand_from compress remove-original' -F
complete -c moravine -n '__fish_seen_subcommand_from decompress cat test list info search remove-compressed' -a '(__fish_complete_suffix .hwz)'
