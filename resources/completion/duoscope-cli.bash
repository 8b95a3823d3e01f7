# bash completion for duoscope-cli

_duoscope_cli() {
    local cur prev words cword
    _init_completion || return

    local commands="info normalize render batch align"
    local render_options="--offset --image-size --color-method --enhance --dots --border --swap --quality"
    local images='@(jpg|jpeg|JPG|JPEG|png|PNG|mpo|MPO|jps|JPS)'

    # The value an option takes.
    case $prev in
        --kind)
            COMPREPLY=($(compgen -W "color grey stereogram wiggle all" -- "$cur"))
            return ;;
        --sbs)
            COMPREPLY=($(compgen -W "parallel cross" -- "$cur"))
            return ;;
        --format)
            COMPREPLY=($(compgen -W "png jpg" -- "$cur"))
            return ;;
        --enhance | --dots)
            COMPREPLY=($(compgen -W "on off" -- "$cur"))
            return ;;
        --color-method)
            COMPREPLY=($(compgen -W "0 1 2 3 4" -- "$cur"))
            return ;;
        --override-orientation)
            COMPREPLY=($(compgen -W "-1 0 1 2 3 4 5 6 7 Up Down Left Right UpMirrored DownMirrored LeftMirrored RightMirrored" -- "$cur"))
            return ;;
        --offset)
            COMPREPLY=($(compgen -W "auto" -- "$cur"))
            return ;;
        --image-size | --max-resolution | --border | --quality)
            return ;;
        -o | --output)
            # A folder for batch and for render --kind all, else a file.
            _filedir
            return ;;
    esac

    local command="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            info | normalize | render | batch | align)
                command=${words[i]}
                break ;;
        esac
    done

    if [[ -z $command ]]; then
        COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
        return
    fi

    if [[ $cur == -* ]]; then
        local options
        case $command in
            info) options="" ;;
            normalize) options="-o --max-resolution --override-orientation --quality" ;;
            render) options="--kind -o --sbs $render_options" ;;
            batch) options="-o --kind --format $render_options" ;;
            align) options="--sbs --image-size" ;;
        esac
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi

    case $command in
        batch)
            # A folder of pairs, or a list file.
            _filedir ;;
        *)
            _filedir "$images" ;;
    esac
} &&
    complete -F _duoscope_cli duoscope-cli
