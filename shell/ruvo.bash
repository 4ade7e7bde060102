# bash completion for ruvo                                 -*- shell-script -*-
#
# After -w, the widths that tile the input without a seam (those that
# divide 512); after -r, nothing (a range is START-END or START+SIZE);
# otherwise file names.  Options come before the files: after the first
# file name, or after --, everything is a file name.

_ruvo()
{
    local cur=${COMP_WORDS[COMP_CWORD]} i word
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        case $word in
        --) _ruvo_files; return ;;
        -r | -w | -g | -[pgrw]*[rwg]) ((i++)) ;; # the argument is the next word
        -?*) ;;
        *) _ruvo_files; return ;;
        esac
    done
    case ${COMP_WORDS[COMP_CWORD - 1]} in
    -r | -g | -[pgrw]*[rg]) COMPREPLY=(); return ;;
    -w | -[pgrw]*w)
        # Smallest first, as zsh and fish list them, not in text order.
        compopt -o nosort 2>/dev/null
        COMPREPLY=($(compgen -W "1 2 4 8 16 32 64 128 256 512" -- "$cur"))
        return
        ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "-r -w --" -- "$cur"))
        return
    fi
    _ruvo_files
}

_ruvo_files()
{
    local IFS=$'\n'
    compopt -o filenames 2>/dev/null
    COMPREPLY=($(compgen -f -- "${COMP_WORDS[COMP_CWORD]}"))
}

complete -F _ruvo ruvo
