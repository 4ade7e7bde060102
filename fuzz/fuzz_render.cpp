// The fast renderer against the reference renderer, byte for byte, for
// any bytes, width, start offset and palette drawn from the fuzz input.
//
// Input: 1 byte of modes, 8 bytes of width, 8 bytes of offset, 4 bytes of
// palette seed, then the bytes to draw (at most 3 chunks).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "render.hpp"
#include "reference.hpp"

namespace {

constexpr std::uint64_t int64_max = 0x7fffffffffffffff;

std::uint64_t read64(const std::uint8_t* p)
{
    std::uint64_t v = 0;
    std::memcpy(&v, p, sizeof v);
    return v;
}

std::uint64_t pick_width(unsigned mode, std::uint64_t raw)
{
    switch (mode & 3) {
    case 0: // around the chunk size and its divisors
        return 1 + raw % 2100;
    case 1: // a power of two
        return std::uint64_t{1} << (raw % 63);
    case 2: // close to the largest width
        return int64_max - raw % 4096;
    default:
        return 1 + raw % int64_max;
    }
}

std::uint64_t pick_offset(unsigned mode, std::uint64_t raw)
{
    switch ((mode >> 2) & 3) {
    case 0:
        return raw % 0x10000;
    case 1: // close to the largest offset a file can have
        return int64_max - raw % 0x10000;
    case 2: // around 4 GiB, where labels grow
        return 0xfffff000 + raw % 0x2000;
    default:
        return raw & int64_max;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    constexpr std::size_t head = 1 + 8 + 8 + 4;
    if (size < head)
        return 0;
    const unsigned mode = data[0];
    const std::uint64_t width = pick_width(mode, read64(data + 1));
    const std::uint64_t offset = pick_offset(mode, read64(data + 9));
    std::uint32_t seed = 0;
    std::memcpy(&seed, data + 17, sizeof seed);
    const ruvo::test::bytes input(data + head,
                                  data + head + std::min<std::size_t>(size - head, 3 * 1024));

    ruvo::colour_table table = ruvo::default_palette;
    if (mode & 0x10) { // any 32-bit values, high bits included
        for (auto& c : table) {
            seed = seed * 1664525u + 1013904223u;
            c = seed;
        }
    }
    static ruvo::cell_strings cells;
    ruvo::prepare_cells(table, cells);

    static char text[ruvo::chunk_text_max];
    std::string fast;
    for (std::size_t done = 0; done < input.size(); done += ruvo::chunk_size) {
        const std::size_t n = std::min(ruvo::chunk_size, input.size() - done);
        fast.append(text,
                    ruvo::render_chunk(text, input.data() + done, n, offset + done, width, cells));
    }
    if (fast != ruvo::test::reference_dump(input, offset, width, table))
        std::abort();
    return 0;
}
