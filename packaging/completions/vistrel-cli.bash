# bash completion for vistrel-cli
_vistrel_cli()
{
    local cur prev words cword
    _init_completion || return

    local commands="search info get set ptz upgrade reboot time quality listen talk snapshot watch download recordings export live"
    local command="" word
    for word in "${words[@]:1:cword-1}"; do
        case $word in
            -*) ;;
            *) command=$word; break ;;
        esac
    done

    case $prev in
        -o|--out|--save|--in|--password-file)
            _filedir
            return ;;
        --dir|--image-dir)
            _filedir -d
            return ;;
    esac

    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "--json --wait --help --version" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        fi
        return
    fi
    if [[ $cur == -* ]]; then
        # Each command's own options, as its --help lists them.
        COMPREPLY=($(compgen -W "$(vistrel-cli "$command" --help 2>/dev/null | grep -o -- '--[a-z][a-z-]*' | sort -u)" -- "$cur"))
    fi
} && complete -F _vistrel_cli vistrel-cli
