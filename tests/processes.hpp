// The processes a test starts, tracked so that none outlives it; and
// reading what one writes, within a deadline.
#ifndef RUVO_TESTS_PROCESSES_HPP
#define RUVO_TESTS_PROCESSES_HPP

#include <sys/types.h>

#include <chrono>
#include <string>

namespace ruvo::test {

// The processes a test has started and not yet reaped, as kill(2) targets:
// a pid, or minus a process group.  When a test runs past its deadline,
// kill_started() ends them all before the test binary ends, so that no
// process of a test outlives it.
void note_started(pid_t target);
void note_ended(pid_t target);
void kill_started(); // async-signal-safe
// Kills and reaps what a test that has ended left running.
void end_started();

// Reads fd into *text until it holds at least `size` bytes, its end (or a
// read error) comes, or `limit` has passed.  Returns false on the time limit.
bool read_until(int fd, std::string* text, std::size_t size, std::chrono::milliseconds limit);

} // namespace ruvo::test

#endif
