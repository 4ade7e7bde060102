#include "reference.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace ruvo::test {

namespace {

int red(colour c)
{
    return static_cast<int>((c >> 16) & 0xff);
}
int green(colour c)
{
    return static_cast<int>((c >> 8) & 0xff);
}
int blue(colour c)
{
    return static_cast<int>(c & 0xff);
}

} // namespace

std::string reference_dump(const bytes& data, std::uint64_t first_offset, std::uint64_t width,
                           const colour_table& table)
{
    static_assert(sizeof(std::size_t) == 8, "labels are printed with %zx");
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* f = open_memstream(&text, &size);
    if (f == nullptr)
        throw std::runtime_error("open_memstream");
    for (std::uint64_t done = 0; done < data.size(); done += 1024) {
        const std::uint64_t n = std::min<std::uint64_t>(1024, data.size() - done);
        const unsigned char* chunk = data.data() + done;
        // r only moves past 0 when 2 * width < n, so nothing here overflows.
        for (std::uint64_t r = 0; r < n; r += 2 * width) {
            const std::uint64_t a = first_offset + done + r;
            std::fprintf(f, "%5zx%03zx ", static_cast<std::size_t>(a >> 12),
                         static_cast<std::size_t>(a & 0xfff));
            for (std::uint64_t i = 0; i < width && r + i < n; ++i) {
                const colour u = table[chunk[r + i]];
                if (r + width + i < n) {
                    const colour l = table[chunk[r + width + i]];
                    std::fprintf(f, "\033[38;2;%d;%d;%dm\033[48;2;%d;%d;%dm\u2580", red(u),
                                 green(u), blue(u), red(l), green(l), blue(l));
                } else {
                    std::fprintf(f, "\033[0m\033[38;2;%d;%d;%dm\u2580", red(u), green(u), blue(u));
                }
            }
            std::fputs("\033[m\n", f);
        }
    }
    std::fclose(f);
    std::string out(text, size);
    std::free(text);
    return out;
}

bytes random_bytes(std::size_t n, std::uint32_t seed)
{
    bytes out(n);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<unsigned char>(x >> 24);
    }
    return out;
}

std::string printable(const std::string& s)
{
    std::string out = "\n";
    for (char c : s) {
        if (c == '\033')
            out += "\\e";
        else
            out += c;
    }
    return out;
}

std::string header(const std::string& name, bool first)
{
    return std::string(first ? "" : "\n") + "====> \033[1m" + name + "\033[m <====\n";
}

} // namespace ruvo::test
