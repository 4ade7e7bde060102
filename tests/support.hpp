// Shared test helpers: a plain reference renderer, fixtures and readable
// diffs of coloured text.
#ifndef RUVO_TESTS_SUPPORT_HPP
#define RUVO_TESTS_SUPPORT_HPP

#include <sys/types.h>

#include <chrono>
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

// Writes data to path, replacing it.
void write_file(const std::string& path, const bytes& data);
std::string read_file(const std::string& path);

// Reads fd into *text until it holds at least `size` bytes, its end (or a
// read error) comes, or `limit` has passed.  Returns false on the time limit.
bool read_until(int fd, std::string* text, std::size_t size, std::chrono::milliseconds limit);

// The folder of this test binary's own in the temporary folder ($TMPDIR,
// else /tmp), made at first use, that holds every scratch file and folder
// of its tests.  It is removed when the binary exits, and by
// remove_scratch() when a deadline or a signal ends it.
const std::string& scratch_root();

// Removes the scratch root, and any path noted with note_scratch(), now.
// Async-signal-safe: it runs rm(1).
void remove_scratch();
void note_scratch(const std::string& path);
void forget_scratch(const std::string& path);

// A file of the test's own (mkstemp in the scratch root, or in `dir`),
// removed when this ends, whatever the verdict.
class temp_file {
  public:
    explicit temp_file(const std::string& dir = "");
    ~temp_file();
    temp_file(const temp_file&) = delete;
    temp_file& operator=(const temp_file&) = delete;

    const std::string& path() const { return path_; }
    int fd() const { return fd_; } // open for reading and writing

  private:
    std::string path_;
    int fd_ = -1;
};

// The processes a test has started and not yet reaped, as kill(2) targets:
// a pid, or minus a process group.  When a test runs past its deadline,
// kill_started() ends them all before the test binary ends, so that no
// process of a test outlives it.
void note_started(pid_t target);
void note_ended(pid_t target);
void kill_started(); // async-signal-safe
// Kills and reaps what a test that has ended left running.
void end_started();

// "\n" before every header but the first one; bold name.
std::string header(const std::string& name, bool first);

} // namespace ruvo::test

#endif
