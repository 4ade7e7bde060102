# fish completion for ruvo_palette: the names of the palettes, and default,
# as the sh version installed beside ruvo's palettes lists them.
set -l sh_version (path resolve (status dirname)/../../ruvo/ruvo_palette.sh)
complete -c ruvo_palette -f -a "(sh -c '. \"\$1\" && _ruvo_palette_names' sh $(string escape -- $sh_version))"
