# ruvo_palette: switch ruvo's palette by name, in sh, bash, zsh, dash and
# ksh.  Source this file from your shell's start-up file: it is installed
# as PREFIX/share/ruvo/ruvo_palette.sh, that is
#
#   . /usr/share/ruvo/ruvo_palette.sh          # the Debian package
#   . /usr/local/share/ruvo/ruvo_palette.sh    # cmake --install, default prefix
#   . ~/.local/share/ruvo/ruvo_palette.sh      # cmake --install --prefix ~/.local
#
#   ruvo_palette NAME      use that palette from now on (exports RUVO_COLORS)
#   ruvo_palette default   the built-in palette again (unsets RUVO_COLORS)
#   ruvo_palette           list the palettes, each with a swatch drawn by ruvo
#
# Palettes are looked for in ${XDG_CONFIG_HOME:-~/.config}/ruvo/palettes,
# the user's own, which no install touches, first, then in the palettes
# installed beside the ruvo found on PATH.  A palette's name is its file's
# name, which holds no dot (so generate.py or README.md in such a folder is
# no palette).  Only these functions read palette files; ruvo itself reads
# none, but it judges them: a palette it would refuse is refused here.

# The ruvo that PATH finds, as a program: an alias or a function of that
# name does not count.
_ruvo_palette_program() {
    _ruvo_palette_rest=$PATH:
    while [ -n "$_ruvo_palette_rest" ]; do
        _ruvo_palette_at=${_ruvo_palette_rest%%:*}
        _ruvo_palette_rest=${_ruvo_palette_rest#*:}
        if [ -f "${_ruvo_palette_at:-.}/ruvo" ] && [ -x "${_ruvo_palette_at:-.}/ruvo" ]; then
            printf '%s\n' "${_ruvo_palette_at:-.}/ruvo"
            return 0
        fi
    done
    return 1
}

# The folders that may hold palettes, one a line, in the order they count.
_ruvo_palette_dirs() {
    printf '%s\n' "${XDG_CONFIG_HOME:-$HOME/.config}/ruvo/palettes"
    _ruvo_palette_bin=$(_ruvo_palette_program) &&
        printf '%s\n' "${_ruvo_palette_bin%/*}/../share/ruvo/palettes"
}

# The names of the palettes, one a line, each once, and "default".
_ruvo_palette_names() {
    _ruvo_palette_dirs | while IFS= read -r _ruvo_palette_dir; do
        [ -d "$_ruvo_palette_dir" ] && ls -1 "$_ruvo_palette_dir"
    done | awk '!/\./ && !seen[$0]++'
    echo default
}

# The file of palette $1, where it is found first; fails if none is.
_ruvo_palette_file() {
    case $1 in
    '' | */* | *.*) return 1 ;;
    esac
    _ruvo_palette_dirs | while IFS= read -r _ruvo_palette_dir; do
        if [ -f "$_ruvo_palette_dir/$1" ]; then
            printf '%s\n' "$_ruvo_palette_dir/$1"
            exit 0
        fi
    done
}

# The palettes, each with the 256 byte values drawn in it: two lines of 64
# cells after the label, 73 columns.  "*" marks the palette in use.
_ruvo_palette_list() {
    _ruvo_palette_bytes=
    _ruvo_palette_i=0
    while [ "$_ruvo_palette_i" -lt 256 ]; do
        _ruvo_palette_bytes="$_ruvo_palette_bytes\\$(printf '%03o' "$_ruvo_palette_i")"
        _ruvo_palette_i=$((_ruvo_palette_i + 1))
    done
    _ruvo_palette_bin=$(_ruvo_palette_program) || {
        echo "ruvo_palette: no ruvo on PATH" >&2
        return 1
    }
    _ruvo_palette_names | while IFS= read -r _ruvo_palette_name; do
        if [ "$_ruvo_palette_name" = default ]; then
            _ruvo_palette_mark=' '
            [ -n "${RUVO_COLORS+set}" ] || _ruvo_palette_mark='*'
            printf '%s %s (built in)\n' "$_ruvo_palette_mark" default
            printf "$_ruvo_palette_bytes" | (unset -v RUVO_COLORS; "$_ruvo_palette_bin" -w 64)
        else
            _ruvo_palette_path=$(_ruvo_palette_file "$_ruvo_palette_name") || continue
            _ruvo_palette_colours=$(cat "$_ruvo_palette_path")
            _ruvo_palette_mark=' '
            [ "${RUVO_COLORS-}" != "$_ruvo_palette_colours" ] ||
                [ -z "${RUVO_COLORS+set}" ] || _ruvo_palette_mark='*'
            printf '%s %s\n' "$_ruvo_palette_mark" "$_ruvo_palette_name"
            printf "$_ruvo_palette_bytes" |
                RUVO_COLORS=$_ruvo_palette_colours "$_ruvo_palette_bin" -w 64
        fi
    done
}

# The colours of the palette in file $1, as ruvo takes them; with ruvo's
# own message and status 1 where ruvo would refuse them.
_ruvo_palette_read() {
    _ruvo_palette_colours=$(cat "$1") || return 1
    _ruvo_palette_bin=$(_ruvo_palette_program) &&
        RUVO_COLORS=$_ruvo_palette_colours "$_ruvo_palette_bin" </dev/null || return 1
    printf '%s\n' "$_ruvo_palette_colours"
}

_ruvo_palette_switch() {
    if [ $# -gt 1 ]; then
        echo "usage: ruvo_palette [name]" >&2
        return 1
    fi
    if [ $# -eq 0 ]; then
        _ruvo_palette_list
        return
    fi
    if [ "$1" = default ]; then
        unset -v RUVO_COLORS
        return 0
    fi
    _ruvo_palette_path=$(_ruvo_palette_file "$1")
    if [ -z "$_ruvo_palette_path" ]; then
        echo "ruvo_palette: no palette named $1" >&2
        return 1
    fi
    _ruvo_palette_colours=$(_ruvo_palette_read "$_ruvo_palette_path") || return 1
    RUVO_COLORS=$_ruvo_palette_colours
    export RUVO_COLORS
}

ruvo_palette() {
    _ruvo_palette_switch "$@"
    set -- $?
    # Leave nothing of ours behind in the user's shell.
    unset -v _ruvo_palette_rest _ruvo_palette_at _ruvo_palette_bin _ruvo_palette_dir \
        _ruvo_palette_bytes _ruvo_palette_i _ruvo_palette_name _ruvo_palette_mark \
        _ruvo_palette_path _ruvo_palette_colours
    return "$1"
}

# Palette names complete in bash (through eval: the other shells must
# not even parse bash's arrays); zsh's completion of ruvo_palette comes
# with the completions of ruvo (_ruvo).
if [ -n "${BASH_VERSION-}" ]; then
    eval '_ruvo_palette_complete() {
        local IFS=$'"'"'\n'"'"'
        COMPREPLY=($(compgen -W "$(_ruvo_palette_names)" -- "${COMP_WORDS[COMP_CWORD]}"))
    }'
    complete -F _ruvo_palette_complete ruvo_palette
fi
