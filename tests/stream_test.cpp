// ruvo as a filter on live inputs: a writer that pauses must find every
// line of what it sent so far on ruvo's output, on pipes and sockets alike.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "e2e.hpp"
#include "support.hpp"

namespace ruvo::test {
namespace {

using namespace std::chrono_literals;

bool write_all(int fd, const unsigned char* data, std::size_t n)
{
    while (n != 0) {
        const ssize_t put = write(fd, data, n);
        if (put <= 0)
            return false;
        data += put;
        n -= static_cast<std::size_t>(put);
    }
    return true;
}

struct stall_case {
    const char* name;
    std::size_t first; // bytes sent before the pause
    bool socket;       // a socket pair instead of a pipe
};

std::ostream& operator<<(std::ostream& os, const stall_case& c)
{
    return os << c.name;
}

class stall : public ::testing::TestWithParam<stall_case> {};

// The writer sends `first` bytes and holds its end open.  Every complete
// chunk of them must reach ruvo's output while the writer waits; then the
// rest follows and the whole output is the plain dump.
TEST_P(stall, CompleteChunksAreShownWhileTheWriterWaits)
{
    const stall_case& c = GetParam();
    const bytes data = random_bytes(c.first + 3000, static_cast<std::uint32_t>(c.first));
    int input[2];
    if (c.socket)
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, input), 0);
    else
        ASSERT_EQ(pipe(input), 0);
    int output[2];
    ASSERT_EQ(pipe(output), 0);
    // ruvo must hold no end but its own, or it would never see the end of
    // its input.
    for (int fd : {input[0], input[1], output[0], output[1]})
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    const pid_t pid = start_ruvo({}, input[0], output[1]);
    close(input[0]);
    close(output[1]);

    ASSERT_TRUE(write_all(input[1], data.data(), c.first));
    const std::size_t whole = c.first / 1024 * 1024;
    const std::string before = reference_dump(
        bytes(data.begin(), data.begin() + static_cast<long>(whole)), 0, 64, default_palette);
    std::string shown;
    const bool in_time = read_until(output[0], &shown, before.size(), 10s);
    EXPECT_TRUE(in_time) << "only " << shown.size() << " of " << before.size()
                         << " bytes of output while the writer waits";
    EXPECT_EQ(shown, before);

    ASSERT_TRUE(write_all(input[1], data.data() + c.first, data.size() - c.first));
    close(input[1]);
    const std::string all = reference_dump(data, 0, 64, default_palette);
    EXPECT_TRUE(read_until(output[0], &shown, all.size() + 1, 20s));
    close(output[0]);
    EXPECT_EQ(wait_status(pid), 0);
    EXPECT_EQ(shown, all);
}

const stall_case stalls[] = {
    {"pipe_four_chunks", 5000, false},
    {"pipe_sixty_eight_chunks", 70000, false},
    {"socket_four_chunks", 5000, true},
    {"socket_sixty_eight_chunks", 70000, true},
};
INSTANTIATE_TEST_SUITE_P(stalls, stall, ::testing::ValuesIn(stalls),
                         [](const auto& info) { return std::string(info.param.name); });

// Another program may leave a descriptor non-blocking, and the flag is
// shared with everyone who holds it.  ruvo then waits for input and for
// room to write, as it would on a blocking one, instead of failing with
// EAGAIN.
TEST(non_blocking, InputAndOutputAreWaitedForNotFailed)
{
    const bytes data = random_bytes(300000, 31);
    int input[2];
    int output[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, input), 0);
    ASSERT_EQ(pipe(output), 0);
    for (int fd : {input[0], input[1], output[0], output[1]})
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    fcntl(input[0], F_SETFL, O_NONBLOCK);
    fcntl(output[1], F_SETFL, O_NONBLOCK);
    const pid_t pid = start_ruvo({}, input[0], output[1]);
    close(input[0]);
    close(output[1]);

    // Nothing to read for a while, then a full output pipe for a while.
    std::this_thread::sleep_for(200ms);
    std::thread writer([&] {
        // MSG_NOSIGNAL: should ruvo fail, the writer sees an error
        // instead of being killed.
        for (std::size_t at = 0; at < data.size();) {
            const ssize_t put = send(input[1], data.data() + at, data.size() - at, MSG_NOSIGNAL);
            if (put <= 0)
                break;
            at += static_cast<std::size_t>(put);
        }
        close(input[1]);
    });
    std::this_thread::sleep_for(200ms);
    const std::string all = reference_dump(data, 0, 64, default_palette);
    std::string shown;
    EXPECT_TRUE(read_until(output[0], &shown, all.size() + 1, 20s));
    writer.join();
    close(output[0]);
    EXPECT_EQ(wait_status(pid), 0);
    EXPECT_TRUE(shown == all) << shown.size() << " bytes of output, " << all.size() << " expected";
}

} // namespace
} // namespace ruvo::test
