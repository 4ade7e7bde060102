// The neutraliser of outside text against the C library's own UTF-8
// decoder: for any bytes, what it makes holds no control character (C0,
// DEL, C1 as a UTF-8 character or as a raw byte), is never longer, comes
// out the same when neutralised again, and is the input itself whenever
// the input held no control character.
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "visible.hpp"

namespace {

// Whether text holds a control character, read as a terminal reads it:
// valid UTF-8 characters whole, any other byte by itself.  glibc's decoder
// also takes the old 5- and 6-byte forms and surrogates, which are not
// UTF-8: those count as single bytes too.
bool has_control(const std::string& text)
{
    std::mbstate_t state{};
    for (std::size_t i = 0; i < text.size();) {
        wchar_t wc = 0;
        const std::size_t n = std::mbrtowc(&wc, text.data() + i, text.size() - i, &state);
        const bool valid = n != static_cast<std::size_t>(-1) && n != static_cast<std::size_t>(-2) &&
                           n <= 4 && wc <= 0x10ffff && (wc < 0xd800 || wc > 0xdfff);
        if (!valid) {
            const auto b = static_cast<unsigned char>(text[i]);
            if (b < 0x20 || b == 0x7f || (b >= 0x80 && b <= 0x9f))
                return true;
            state = std::mbstate_t{};
            ++i;
            continue;
        }
        if (wc < 0x20 || (wc >= 0x7f && wc <= 0x9f))
            return true;
        i += n;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool utf8 = std::setlocale(LC_CTYPE, "C.UTF-8") != nullptr;
    std::string in(reinterpret_cast<const char*>(data), size);
    in.resize(std::strlen(in.c_str())); // the text ends at its first NUL
    std::string out(in.size() + 1, 'x');
    const std::size_t n = ruvo::neutralise_controls(out.data(), in.c_str());
    if (n > in.size() || out[n] != '\0')
        std::abort();
    out.resize(n);
    std::string again = out;
    ruvo::neutralise_controls(again.data(), again.c_str());
    if (std::string(again.c_str()) != out)
        std::abort();
    if (utf8 && (has_control(out) || (!has_control(in) && out != in)))
        std::abort();
    return 0;
}
