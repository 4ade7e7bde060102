// Running the built ruvo binary through the shell, in a scratch directory
// with small fixture files.
#ifndef RUVO_TESTS_E2E_HPP
#define RUVO_TESTS_E2E_HPP

#include <map>
#include <string>

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

// True when err matches pattern, in which "<any>" stands for the text of
// one line (the C library's own wording) and everything else is literal.
bool stderr_matches(const std::string& err, const std::string& pattern);

} // namespace ruvo::test

#endif
