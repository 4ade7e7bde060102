// Running the built ruvo binary through the shell, in a scratch directory
// with small fixture files.
#ifndef RUVO_TESTS_E2E_HPP
#define RUVO_TESTS_E2E_HPP

#include <sys/types.h>

#include <chrono>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "processes.hpp"
#include "reference.hpp"
#include "scratch_files.hpp"

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
    // and RUVO_COLORS unset unless the script sets it.  A script still
    // running after `limit` is killed, with status still_running and a
    // line saying so at the end of err.
    run_result run(const std::string& script,
                   std::chrono::milliseconds limit = std::chrono::seconds(20)) const;

  private:
    std::string dir_;
};

// The binary under test: $RUVO_TEST_BINARY when that is set, so that one
// test build can prove another build of the program, else the one built
// beside the tests.
std::string binary_under_test();

// Starts the binary under test with args, its standard input and output on
// the descriptors given, its standard error on `err` (inherited for -1),
// and RUVO_COLORS unset unless `env` sets it.  argv[0] is the binary's
// path, or `name` where that is given.  Returns its pid.  Where the exec
// (or a step before it) fails, throws with the step and errno's text: a
// test then reports that, never the program's silence.  A program run as
// another user runs from a copy that the user can reach, removed once it
// has started.
struct start_options {
    int err = -1;
    bool close_err = false;       // standard error closed instead
    std::vector<std::string> env; // "NAME=value", in place of any inherited NAME
    const char* name = nullptr;   // argv[0]
    bool no_arguments = false;    // an empty argument vector, not even argv[0]
    bool own_group = false;       // in a process group of its own
    int max_files = 0;            // where > 0: RLIMIT_NOFILE, with only 0, 1 and 2 open
    uid_t user = 0;               // where > 0: run as that user and group (needs root)
    unsigned alarm = 0;           // where > 0: an alarm(2) of that many seconds, set before exec
    bool block_alarm = false;     // SIGALRM blocked, as a parent may leave it
    const char* dir = nullptr;    // where given: the working directory
};
pid_t start_ruvo(const std::vector<std::string>& args, int in, int out,
                 const start_options& options = {});

// A pipe, or a connected pair of stream sockets, whose ends close on
// exec, so that only the program they are handed to keeps them: 0, or -1
// with errno set.
int cloexec_pipe(int ends[2]);
int cloexec_socketpair(int ends[2]);

// Runs the binary under test with args, standard input from `in` (else
// /dev/null), and its standard output, and its standard error unless
// how.err or how.close_err says otherwise, into pipes read to their ends
// within `limit`: what it wrote and its status.  Past the limit, err ends
// with a line that says so and the program is killed.
run_result run_ruvo(const std::vector<std::string>& args, const start_options& how = {},
                    std::chrono::milliseconds limit = std::chrono::seconds(5), int in = -1);

// Whether pid (a process of this user's, or any as root) is inside one of
// the system calls numbered `calls` (SYS_write, say) within `limit`: for a test
// that must act while the program waits in a write, a read or an open.
// Linux only: it reads /proc/PID/syscall.
bool blocked_in(pid_t pid, std::initializer_list<long> calls, std::chrono::milliseconds limit);

// The number after "key:" in /proc/PID/<file> (io, status), read as
// decimal, or as hexadecimal with `hex` (the signal masks of status).
// Linux only; throws "not run: ..." where the file cannot be read.
unsigned long long proc_field(pid_t pid, const char* file, const char* key, bool hex = false);

// Waits until pid has ended, without reaping it, so that what /proc says
// of it can still be read: true once it has, false past `limit`.
bool ended_unreaped(pid_t pid, std::chrono::milliseconds limit);

// Waits for pid to end: its exit status, or 128 + the signal that ended it.
// Past `limit` it kills the process, says so on standard error and returns
// still_running, so that a test never waits longer than its own deadline.
inline constexpr int still_running = -2;
int wait_status(pid_t pid, std::chrono::milliseconds limit = std::chrono::seconds(10));

// A pseudo-terminal: ruvo writes to the slave, the test reads the master.
// Output processing is off, so the bytes arrive as ruvo wrote them.
struct pty {
    int master = -1;
    int slave = -1;

    pty();
    ~pty();
    pty(const pty&) = delete;
    pty& operator=(const pty&) = delete;

    // Once ruvo holds the slave, the master sees the end when ruvo ends.
    void close_slave();
};

// What arrives on fd within `how_long`, or up to its end if that comes
// first.  A terminal's master reports the end as an error.
std::string drain(int fd, std::chrono::milliseconds how_long);

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
