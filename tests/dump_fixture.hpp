// What the unit tests of the dumper and of its input and output share:
// a fixture with settings and cells of its own, inputs on files and pipes,
// and the dump of a descriptor as a string.
#ifndef RUVO_TESTS_DUMP_FIXTURE_HPP
#define RUVO_TESTS_DUMP_FIXTURE_HPP

#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "render.hpp"
#include "processes.hpp"
#include "reference.hpp"
#include "scratch_files.hpp"

namespace ruvo::test {

// Each test its own settings, the defaults at first, and the default
// palette's cells.
struct dump_fixture : ::testing::Test {
    dump_fixture() { prepare_cells(default_palette, cells); }

    // What the dumper draws of descriptor `in` with these settings.
    std::string dump_to_string(int in) const;
    // What the dumper must draw of data for the range [start, end).
    std::string want_range(const bytes& data, std::int64_t start, std::int64_t end) const;

    dump_settings settings;
    cell_strings cells{};
};

// A descriptor of a temporary file holding data, positioned at its start.
inline int seekable(const bytes& data)
{
    std::FILE* f = std::tmpfile();
    if (!data.empty())
        std::fwrite(data.data(), 1, data.size(), f);
    std::fflush(f);
    const int fd = dup(fileno(f));
    std::fclose(f);
    lseek(fd, 0, SEEK_SET);
    return fd;
}

// The read end of a pipe holding data (small enough for the pipe buffer).
inline int pipe_of(const bytes& data)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    if (!data.empty() &&
        write(fds[1], data.data(), data.size()) != static_cast<ssize_t>(data.size()))
        return -1;
    close(fds[1]);
    return fds[0];
}

// The read end of a pipe that a thread fills with data, `piece` bytes per
// write.  With pieces of one byte it waits until each byte has been read
// before it writes the next, so every read(2) gets one byte.
class fed_pipe {
  public:
    fed_pipe(const bytes& data, std::size_t piece)
    {
        int fds[2];
        if (pipe(fds) != 0)
            throw std::runtime_error("pipe");
        fd = fds[0];
        writer_ = std::thread([data, piece, r = fds[0], w = fds[1]] {
            for (std::size_t at = 0; at < data.size();) {
                const std::size_t n = std::min(piece, data.size() - at);
                const ssize_t put = write(w, data.data() + at, n);
                if (put <= 0)
                    break;
                at += static_cast<std::size_t>(put);
                // The pipe is empty again once its read end polls as not ready.
                pollfd p{r, POLLIN, 0};
                while (piece == 1 && poll(&p, 1, 0) == 1)
                    std::this_thread::yield();
            }
            close(w);
        });
    }
    ~fed_pipe()
    {
        // Takes what the reader left, so that the writer can finish.
        char rest[4096];
        while (read(fd, rest, sizeof rest) > 0) {
        }
        close(fd);
        writer_.join();
    }
    fed_pipe(const fed_pipe&) = delete;
    fed_pipe& operator=(const fed_pipe&) = delete;

    int fd;

  private:
    std::thread writer_;
};

inline std::string dump_fixture::dump_to_string(int in) const
{
    std::FILE* f = std::tmpfile();
    {
        auto out = std::make_unique<text_out>(fileno(f), "output");
        dump_stream(in, "input", settings, cells, *out);
    }
    std::string text(static_cast<std::size_t>(lseek(fileno(f), 0, SEEK_END)), '\0');
    if (!text.empty() &&
        pread(fileno(f), text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()))
        text = "short read";
    std::fclose(f);
    return text;
}

inline std::string dump_fixture::want_range(const bytes& data, std::int64_t start,
                                            std::int64_t end) const
{
    const auto from = std::min<std::size_t>(static_cast<std::size_t>(start), data.size());
    const auto to =
        end == -1 ? data.size() : std::min<std::size_t>(static_cast<std::size_t>(end), data.size());
    const bytes part(data.begin() + static_cast<long>(from),
                     data.begin() + static_cast<long>(std::max(from, to)));
    return reference_dump(part, static_cast<std::uint64_t>(start), settings.width, default_palette);
}

} // namespace ruvo::test

#endif
