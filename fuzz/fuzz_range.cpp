// Any text as a range argument: a returned range is always usable, and a
// failure is one of the known checks.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "range.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const char* arg = text.c_str(); // as argv would hold it: up to the first NUL
    const ruvo::range_result r = ruvo::parse_range(arg);
    const bool has_delimiter = std::strpbrk(arg, "+-") != nullptr;
    switch (r.error) {
    case ruvo::range_error::none:
        if (!has_delimiter || r.start < 0 || (r.end != -1 && r.end < r.start))
            std::abort();
        break;
    case ruvo::range_error::no_delimiter:
        if (has_delimiter)
            std::abort();
        break;
    case ruvo::range_error::invalid_start:
    case ruvo::range_error::invalid_end:
    case ruvo::range_error::start_unspecified:
    case ruvo::range_error::size_unspecified:
    case ruvo::range_error::end_before_start:
        if (!has_delimiter)
            std::abort();
        break;
    default:
        std::abort();
    }
    return 0;
}
