# ruvo_palette for fish: switch ruvo's palette by name.
#
#   ruvo_palette NAME      use that palette from now on (exports RUVO_COLORS)
#   ruvo_palette default   the built-in palette again (erases RUVO_COLORS)
#   ruvo_palette           list the palettes, each with a swatch drawn by ruvo
#
# Which palettes there are, where they are found and how they are listed
# is the business of the sh version installed beside ruvo's palettes
# (share/ruvo/ruvo_palette.sh); this function asks it.
set -g __ruvo_palette_sh (path resolve (status dirname)/../../ruvo/ruvo_palette.sh)

function ruvo_palette --description 'switch ruvo\'s palette by name'
    set -l sh_version $__ruvo_palette_sh
    if test (count $argv) -gt 1
        echo "usage: ruvo_palette [name]" >&2
        return 1
    end
    if test (count $argv) -eq 0
        sh -c '. "$1" && ruvo_palette' sh $sh_version
        return
    end
    if test "$argv[1]" = default
        set -e RUVO_COLORS
        return 0
    end
    set -l file (sh -c '. "$1" && _ruvo_palette_file "$2"' sh $sh_version $argv[1])
    if test -z "$file"
        echo "ruvo_palette: no palette named $argv[1]" >&2
        return 1
    end
    # A palette that ruvo would refuse is refused, with ruvo's message.
    set -l colours (sh -c '. "$1" && _ruvo_palette_read "$2"' sh $sh_version $file | string collect)
    or return 1
    set -gx RUVO_COLORS $colours
end
