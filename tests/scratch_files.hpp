// The tests' scratch files and folders: all inside one folder of the test
// binary's own, removed whatever the verdict.
#ifndef RUVO_TESTS_SCRATCH_FILES_HPP
#define RUVO_TESTS_SCRATCH_FILES_HPP

#include <string>
#include <vector>

namespace ruvo::test {

using bytes = std::vector<unsigned char>;

// Writes data to path, replacing it.
void write_file(const std::string& path, const bytes& data);
std::string read_file(const std::string& path);

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

} // namespace ruvo::test

#endif
