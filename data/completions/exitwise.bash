# SPDX-License-Identifier: MIT
# bash completion for exitwise

_exitwise()
{
    local cur prev words cword
    _init_completion 2>/dev/null || {
        cur=${COMP_WORDS[COMP_CWORD]}
        prev=${COMP_WORDS[COMP_CWORD-1]}
        words=("${COMP_WORDS[@]}")
        cword=$COMP_CWORD
    }

    local subcommands="list show export diagnose watch version"
    local command="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            list | show | export | diagnose | watch | version) command=${words[i]}; break ;;
        esac
    done

    # Values first: an option that takes an argument owns the next word.
    case $prev in
        --state) COMPREPLY=($(compgen -W "crash killed clean blocked" -- "$cur")); return ;;
        --format) COMPREPLY=($(compgen -W "csv json" -- "$cur")); return ;;
        --input | --output) COMPREPLY=($(compgen -f -- "$cur")); return ;;
        --report-dir | --journal-dir) COMPREPLY=($(compgen -d -- "$cur")); return ;;
        --since | --until) COMPREPLY=($(compgen -W "today yesterday" -- "$cur")); return ;;
        --limit | --app) return ;;
    esac

    local options
    case $command in
        "") options="--background --version --help" ;;
        list) options="--since --until --app --state --limit --no-legend --json --help" ;;
        show) options="--json --help" ;;
        export) options="--format --output --help" ;;
        diagnose) options="--input --collect --report-dir --journal-dir --help" ;;
        watch) options="--json --no-journal-entry --help" ;;
        version) options="--help" ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
    elif [[ -z $command ]]; then
        COMPREPLY=($(compgen -W "$subcommands" -- "$cur"))
    elif [[ $command == show ]]; then
        COMPREPLY=($(compgen -W "latest" -- "$cur"))
    fi
}

complete -F _exitwise exitwise
