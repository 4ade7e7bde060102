# fish completion for ruvo.
#
# After -w, the widths that tile the input without a seam (those that
# divide 512); after -r, nothing; otherwise file names.  Options come
# before the files: after the first file name, or after --, everything is
# a file name.

function __ruvo_options_over
    set -l words (commandline -opc)
    set -e words[1]
    set -l argument 0
    for word in $words
        if test $argument = 1
            set argument 0
        else if test "$word" = --
            return 0
        else if string match -qr -- '^-[pgrw]*[rwg]$' $word
            set argument 1
        else if not string match -q -- '-?*' $word
            return 0
        end
    end
    return 1
end

complete -c ruvo -n 'not __ruvo_options_over' -s r -x -d 'show only a byte range: START-END or START+SIZE'
complete -c ruvo -n 'not __ruvo_options_over' -s w -x -d 'bytes per pixel row' -a '
1\t"2 bytes a line"
2\t"4 bytes a line"
4\t"8 bytes a line"
8\t"16 bytes a line"
16\t"32 bytes a line"
32\t"64 bytes a line"
64\t"128 bytes a line (the default)"
128\t"256 bytes a line"
256\t"512 bytes a line"
512\t"1024 bytes a line"'
