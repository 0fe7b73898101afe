# fish completion for tovik-reg: options, commands, key paths (asked of tovik-reg itself, on the
# registry the line names), type names, files.
set -l commands query get set delete-value add-key delete-key export import diff find rename-key rename-value history undo redo registries timeline

function __tovik_reg_keys
    set -l words (commandline -opc)
    set -l registry
    set -l i 2
    while test $i -le (count $words)
        switch $words[$i]
            case --registry --steam-app --windows --user --hive --as
                set registry $registry $words[$i] $words[(math $i + 1)]
                set i (math $i + 1)
            case '--write' '--*=*' --wine-prefix
                set registry $registry $words[$i]
            case '-*'
            case '*'
                break
        end
        set i (math $i + 1)
    end
    # The token as typed, escapes and quotes included; tovik-reg wants the text it stands for.
    tovik-reg $registry __complete-keys (commandline -ct | string unescape) 2>/dev/null
end

complete -c tovik-reg -f
complete -c tovik-reg -n "not __fish_seen_subcommand_from $commands" -s h -l help -d 'Print the help'
complete -c tovik-reg -n "not __fish_seen_subcommand_from $commands" -l version -d 'Print the version'
complete -c tovik-reg -n "not __fish_seen_subcommand_from $commands" -l registry -r -F -d 'Use the registry store FILE'
complete -c tovik-reg -n "not __fish_seen_subcommand_from $commands" -l wine-prefix -x -a '(__fish_complete_directories)' -d 'Use a Wine prefix'
complete -c tovik-reg -n "not __fish_seen_subcommand_from $commands" -l steam-app -x -d 'Use the Proton prefix of a Steam game'
complete -c tovik-reg -n "not __fish_seen_subcommand_from $commands" -l windows -x -a '(__fish_complete_directories)' -d 'Use a Windows installation'
complete -c tovik-reg -n "not __fish_seen_subcommand_from $commands" -l user -r -F -d 'With --windows: NTUSER.DAT as HKCU'
complete -c tovik-reg -n "not __fish_seen_subcommand_from $commands" -l hive -r -F -d 'Use one hive file'
complete -c tovik-reg -n "not __fish_seen_subcommand_from $commands" -l as -x -a 'HKLM HKCU HKCR' -d 'The key the hive is shown as'
complete -c tovik-reg -n "not __fish_seen_subcommand_from $commands" -l write -d 'Allow changes to hive files'
complete -c tovik-reg -n "not __fish_seen_subcommand_from $commands" -a "$commands"

complete -c tovik-reg -n "__fish_seen_subcommand_from query get set delete-value add-key delete-key export diff find rename-key rename-value timeline history" -a '(__tovik_reg_keys)'
complete -c tovik-reg -n "__fish_seen_subcommand_from query" -s r -d 'Every subkey too'
complete -c tovik-reg -n "__fish_seen_subcommand_from query" -l times -d "Each key's last write time"
complete -c tovik-reg -n "__fish_seen_subcommand_from history" -s n -x -d 'How many entries'
complete -c tovik-reg -n "__fish_seen_subcommand_from get" -l raw -d 'The bytes as they are'
complete -c tovik-reg -n "__fish_seen_subcommand_from query get find diff registries" -l json -d 'Print JSON'
complete -c tovik-reg -n "__fish_seen_subcommand_from diff" -l format -x -a 'text reg reg4' -d 'The output'
complete -c tovik-reg -n "__fish_seen_subcommand_from diff" -l reverse -d 'Compare B with A'
complete -c tovik-reg -n "__fish_seen_subcommand_from diff" -l b -d 'The registry options of side B follow'
complete -c tovik-reg -n "__fish_seen_subcommand_from import" -l dry-run -d 'List the changes, write nothing'
complete -c tovik-reg -n "__fish_seen_subcommand_from $commands" -s h -l help -d 'Print the help'
complete -c tovik-reg -n "__fish_seen_subcommand_from find" -l keys -d 'Look at key names'
complete -c tovik-reg -n "__fish_seen_subcommand_from find" -l values -d 'Look at value names'
complete -c tovik-reg -n "__fish_seen_subcommand_from find" -l data -d 'Look at data'
complete -c tovik-reg -n "__fish_seen_subcommand_from find" -l case -d 'Match case'
complete -c tovik-reg -n "__fish_seen_subcommand_from find" -l exact -d 'Match the whole text'
complete -c tovik-reg -n "__fish_seen_subcommand_from find" -l since -x -d 'Keys written from DATE on (ISO 8601)'
complete -c tovik-reg -n "__fish_seen_subcommand_from find" -l until -x -d 'Keys written up to DATE (ISO 8601)'
complete -c tovik-reg -n "__fish_seen_subcommand_from export" -l format -x -a 'backup reg reg4' -d 'The file format'
complete -c tovik-reg -n "__fish_seen_subcommand_from set" -a 'SZ EXP MLT DW BIN NON DWE LNK RSC QW REG_NONE REG_SZ REG_EXPAND_SZ REG_BINARY REG_DWORD REG_MULTI_SZ REG_QWORD'
complete -c tovik-reg -n "__fish_seen_subcommand_from export import diff" -F
