// The slow, obvious renderer that the fast one must match byte for byte,
// and the inputs and readable diffs the tests compare with it.
#ifndef RUVO_TESTS_REFERENCE_HPP
#define RUVO_TESTS_REFERENCE_HPP

#include <cstdint>
#include <string>
#include <vector>

#include "palette.hpp"

namespace ruvo::test {

using bytes = std::vector<unsigned char>;

// Draws `data` (the bytes of the range, the first at `first_offset`) the
// slow, obvious way: one formatted print per label and per cell, chunks of
// 1024 bytes.  The fast renderer must match it byte for byte.
std::string reference_dump(const bytes& data, std::uint64_t first_offset, std::uint64_t width,
                           const colour_table& table);

// Deterministic pseudo-random bytes.
bytes random_bytes(std::size_t n, std::uint32_t seed);

// Text with escapes shown as \e and one output line per line, for
// failure messages.
std::string printable(const std::string& s);

// "\n" before every header but the first one; bold name.
std::string header(const std::string& name, bool first);

} // namespace ruvo::test

#endif
