// Running the built ruvo binary through the shell, in a scratch directory
// with small fixture files.
#ifndef RUVO_TESTS_E2E_HPP
#define RUVO_TESTS_E2E_HPP

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "support.hpp"

namespace ruvo::test {

struct run_result {
    std::string out;
    std::string err;
    int status = -1; // exit status, or 128 + signal number
};

// A fresh directory holding the fixtures, by name.
class scratch {
  public:
    explicit scratch(const std::map<std::string, bytes>& files);
    ~scratch();
    scratch(const scratch&) = delete;
    scratch& operator=(const scratch&) = delete;

    const std::string& dir() const { return dir_; }

    // Runs a /bin/sh script in the directory, with $RUVO naming the binary
    // and RUVO_COLORS unset unless the script sets it.
    run_result run(const std::string& script) const;

  private:
    std::string dir_;
};

// The binary under test: $RUVO_TEST_BINARY when that is set, so that one
// test build can prove another build of the program, else the one built
// beside the tests.
std::string binary_under_test();

// Starts the binary under test with args, its standard input and output on
// the descriptors given and its standard error inherited, and RUVO_COLORS
// unset.  Returns its pid.
pid_t start_ruvo(const std::vector<std::string>& args, int in, int out);

// Waits for pid to end: its exit status, or 128 + the signal that ended it.
int wait_status(pid_t pid);

// Reads fd into *text until it holds at least `size` bytes, its end (or a
// read error) comes, or `limit` has passed.  Returns false on the time limit.
bool read_until(int fd, std::string* text, std::size_t size, std::chrono::milliseconds limit);

// The system's text for errno value e, as a pattern for stderr_matches:
// this C library's own text when the binary under test was built with the
// tests, else "<any>", since another build may use another C library's
// words.
std::string sys_error(int e);

// True when err matches pattern, in which "<any>" stands for the text of
// one line (the C library's own wording) and everything else is literal.
bool stderr_matches(const std::string& err, const std::string& pattern);

} // namespace ruvo::test

#endif
