// Any text as RUVO_COLORS: the count rules hold, and every stored colour
// is what strtol makes of the token at its place, found independently.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "palette.hpp"

namespace {

std::vector<std::string> tokens_of(const char* s)
{
    std::vector<std::string> out;
    std::string tok;
    for (;; ++s) {
        const bool sep = *s == ' ' || *s == '\v' || *s == '\r' || *s == '\n' || *s == '\0';
        if (!sep) {
            tok += *s;
            continue;
        }
        if (!tok.empty())
            out.push_back(tok);
        tok.clear();
        if (*s == '\0')
            return out;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> tokens = tokens_of(text.c_str());
    ruvo::colour_table table{};
    const ruvo::colours_result r = ruvo::parse_colours(text.data(), table);

    if (r.count > table.size() || r.count > tokens.size())
        std::abort();
    for (std::size_t i = 0; i < r.count; ++i) {
        char* end = nullptr;
        const long v = std::strtol(tokens[i].c_str(), &end, 16);
        if (tokens[i].size() != 6 || *end != '\0' || table[i] != static_cast<ruvo::colour>(v))
            std::abort();
    }
    switch (r.status) {
    case ruvo::colours_status::ok:
        // Exactly 256 stored; a 257th token exists only as a valid, ignored one.
        if (r.count != 256 || r.excess != (tokens.size() > 256))
            std::abort();
        break;
    case ruvo::colours_status::too_few:
        if (r.count != tokens.size() || r.count >= 256 || r.excess)
            std::abort();
        break;
    case ruvo::colours_status::bad_token:
        if (r.token == nullptr || r.count >= tokens.size() || tokens[r.count] != r.token ||
            r.excess)
            std::abort();
        break;
    default:
        std::abort();
    }
    return 0;
}
