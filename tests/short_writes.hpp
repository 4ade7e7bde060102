// A descriptor that takes only a few bytes a write, as a slow terminal
// may, and a stop (Ctrl-Z) noted right after a chosen write to it: the
// unit tests' own write(2), which this binary uses in place of the C
// library's.  Every other descriptor is written as usual.
#ifndef RUVO_TESTS_SHORT_WRITES_HPP
#define RUVO_TESTS_SHORT_WRITES_HPP

#include <cstddef>

namespace ruvo::test {

struct short_writes {
    int fd = -1;          // the descriptor; -1 for none
    std::size_t most = 0; // the most bytes one write takes; 0: no limit
    int stop_after = 0;   // after this write (1 for the first), a stop is noted
    int writes = 0;       // the writes to fd so far
};

// What the next writes do; a test sets it and resets it to {} at its end.
extern short_writes writes_to;

} // namespace ruvo::test

#endif
