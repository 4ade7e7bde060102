// The byte-to-colour table and its replacement from RUVO_COLORS.
#ifndef RUVO_PALETTE_HPP
#define RUVO_PALETTE_HPP

#include <array>
#include <cstddef>
#include <cstdint>

namespace ruvo {

// 0x00RRGGBB; bits 24-31 are carried but never drawn.
using colour = std::uint32_t;
using colour_table = std::array<colour, 256>;

extern const colour_table default_palette;

enum class colours_status {
    ok,        // 256 colours stored
    too_few,   // the text ran out before 256 colours (count says how many)
    bad_token, // token is not a colour
};

struct colours_result {
    colours_status status = colours_status::ok;
    std::size_t count = 0;       // colours stored into the table
    const char* token = nullptr; // the offending token, for bad_token
    bool excess = false;         // a valid 257th colour was met and ignored
};

// Splits text in place (it is handed to strtok) and stores the colours into
// table entry by entry, stopping at the first problem.  Tokens are separated
// by runs of blank, \v, \r and \n; a colour is a token of exactly six
// characters that strtol converts whole in base 16.
colours_result parse_colours(char* text, colour_table& table);

// Replaces `palette` (the driver's, which starts as default_palette) from
// RUVO_COLORS when that is set.  Returns the heap copy of the value that
// the tokens live in (the caller frees it), or nullptr when the variable
// is unset.  Every failure ends the program.
char* load_palette_from_env(colour_table& palette);

} // namespace ruvo

#endif
