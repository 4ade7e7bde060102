#include "processes.hpp"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace ruvo::test {

bool read_until(int fd, std::string* text, std::size_t size, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    char buf[65536];
    while (text->size() < size) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
            continue;
        const ssize_t got = read(fd, buf, sizeof buf);
        if (got <= 0) // the end, or a terminal's master once the slave is gone
            break;
        text->append(buf, static_cast<std::size_t>(got));
    }
    return true;
}

namespace {

// Read by kill_started() from a signal handler: plain slots, 0 when free.
volatile pid_t started[64];

} // namespace

void note_started(pid_t target)
{
    for (auto& slot : started)
        if (slot == 0) {
            slot = target;
            return;
        }
}

void note_ended(pid_t target)
{
    for (auto& slot : started)
        if (slot == target)
            slot = 0;
}

void kill_started()
{
    for (auto& slot : started)
        if (slot != 0)
            (void)kill(slot, SIGKILL);
}

void end_started()
{
    for (auto& slot : started) {
        const pid_t target = slot;
        if (target == 0)
            continue;
        (void)kill(target, SIGKILL);
        int raw = 0;
        while (waitpid(target, &raw, 0) > 0 || errno == EINTR) {
        }
        slot = 0;
    }
}

} // namespace ruvo::test
