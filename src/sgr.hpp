// The escape sequences ruvo writes around its cells, each spelled once:
// ECMA-48's SGR (Select Graphic Rendition) for all attributes off and for
// bold, and texts that begin with the reset.
#ifndef RUVO_SGR_HPP
#define RUVO_SGR_HPP

#include <array>
#include <cstddef>

namespace ruvo {

inline constexpr char attributes_off[] = "\033[m";
inline constexpr char bold[] = "\033[1m";

// Two texts as one, with one NUL at its end: a constant that begins with
// another keeps the other's spelling.
template <std::size_t A, std::size_t B>
constexpr std::array<char, A + B - 1> join(const char (&a)[A], const char (&b)[B])
{
    std::array<char, A + B - 1> out{};
    for (std::size_t i = 0; i + 1 < A; ++i)
        out[i] = a[i];
    for (std::size_t i = 0; i < B; ++i)
        out[A - 1 + i] = b[i];
    return out;
}

// The end of every line of a dump, and what a stop's make-up writes: all
// attributes off, then a new line.
inline constexpr auto reset_and_newline = join(attributes_off, "\n");

} // namespace ruvo

#endif
