#include "visible.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace ruvo {

namespace {

// One byte that a terminal takes for a control character by itself: C0,
// DEL, or a C1 code sent as a single byte.
bool is_control_byte(unsigned c)
{
    return c < 0x20 || c == 0x7f || (c >= 0x80 && c <= 0x9f);
}

// The length of the well-formed UTF-8 sequence of two or more bytes that
// starts at s, or 0 where none does.  Stops at the first byte that does
// not fit, so it never reads past a terminating NUL.
std::size_t utf8_sequence(const unsigned char* s)
{
    const unsigned lead = s[0];
    std::size_t n = 0;
    unsigned low = 0x80;
    unsigned high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        n = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        n = 3;
        low = lead == 0xe0 ? 0xa0 : low;   // no overlong forms
        high = lead == 0xed ? 0x9f : high; // no surrogates
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        n = 4;
        low = lead == 0xf0 ? 0x90 : low;
        high = lead == 0xf4 ? 0x8f : high; // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (s[1] < low || s[1] > high)
        return 0;
    for (std::size_t i = 2; i < n; ++i)
        if (s[i] < 0x80 || s[i] > 0xbf)
            return 0;
    return n;
}

// The character at s (s[0] != 0): its length in bytes, and whether it is
// a control character, C1 in UTF-8 (U+0080 to U+009F) included.
std::size_t next_character(const unsigned char* s, bool* control)
{
    const std::size_t n = utf8_sequence(s);
    if (n == 0) {
        *control = is_control_byte(s[0]);
        return 1;
    }
    *control = n == 2 && s[0] == 0xc2 && s[1] <= 0x9f;
    return n;
}

bool has_controls(const char* text)
{
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    bool control = false;
    while (*s != 0 && !control)
        s += next_character(s, &control);
    return control;
}

} // namespace

std::size_t neutralise_controls(char* to, const char* from)
{
    const auto* s = reinterpret_cast<const unsigned char*>(from);
    char* p = to;
    while (*s != 0) {
        bool control = false;
        const std::size_t n = next_character(s, &control);
        if (control) {
            *p++ = '?';
            s += n;
        } else {
            // Byte by byte: p never runs ahead of s, so to may be from.
            for (std::size_t i = 0; i < n; ++i)
                *p++ = static_cast<char>(*s++);
        }
    }
    *p = '\0';
    return static_cast<std::size_t>(p - to);
}

shown_text::shown_text(const char* text, int fd) : text_(text)
{
    // Made while a message about errno is being written: keep errno.
    const int saved_errno = errno;
    if (has_controls(text) && isatty(fd) != 0) {
        copy_ = static_cast<char*>(std::malloc(std::strlen(text) + 1));
        text_ = copy_ != nullptr ? copy_ : "?";
        if (copy_ != nullptr)
            neutralise_controls(copy_, text);
    }
    errno = saved_errno;
}

shown_text::~shown_text()
{
    std::free(copy_);
}

} // namespace ruvo
