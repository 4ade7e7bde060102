#include "support.hpp"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace ruvo::test {

namespace {

int red(colour c)
{
    return static_cast<int>((c >> 16) & 0xff);
}
int green(colour c)
{
    return static_cast<int>((c >> 8) & 0xff);
}
int blue(colour c)
{
    return static_cast<int>(c & 0xff);
}

} // namespace

std::string reference_dump(const bytes& data, std::uint64_t first_offset, std::uint64_t width,
                           const colour_table& table)
{
    static_assert(sizeof(std::size_t) == 8, "labels are printed with %zx");
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* f = open_memstream(&text, &size);
    if (f == nullptr)
        throw std::runtime_error("open_memstream");
    for (std::uint64_t done = 0; done < data.size(); done += 1024) {
        const std::uint64_t n = std::min<std::uint64_t>(1024, data.size() - done);
        const unsigned char* chunk = data.data() + done;
        // r only moves past 0 when 2 * width < n, so nothing here overflows.
        for (std::uint64_t r = 0; r < n; r += 2 * width) {
            const std::uint64_t a = first_offset + done + r;
            std::fprintf(f, "%5zx%03zx ", static_cast<std::size_t>(a >> 12),
                         static_cast<std::size_t>(a & 0xfff));
            for (std::uint64_t i = 0; i < width && r + i < n; ++i) {
                const colour u = table[chunk[r + i]];
                if (r + width + i < n) {
                    const colour l = table[chunk[r + width + i]];
                    std::fprintf(f, "\033[38;2;%d;%d;%dm\033[48;2;%d;%d;%dm\u2580", red(u),
                                 green(u), blue(u), red(l), green(l), blue(l));
                } else {
                    std::fprintf(f, "\033[0m\033[38;2;%d;%d;%dm\u2580", red(u), green(u), blue(u));
                }
            }
            std::fputs("\033[m\n", f);
        }
    }
    std::fclose(f);
    std::string out(text, size);
    std::free(text);
    return out;
}

bytes random_bytes(std::size_t n, std::uint32_t seed)
{
    bytes out(n);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<unsigned char>(x >> 24);
    }
    return out;
}

std::string printable(const std::string& s)
{
    std::string out = "\n";
    for (char c : s) {
        if (c == '\033')
            out += "\\e";
        else
            out += c;
    }
    return out;
}

void write_file(const std::string& path, const bytes& data)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!f)
        throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

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

namespace {

// Paths for remove_scratch(), in plain buffers that a handler can read.
char scratch_paths[8][1024];

// Removes the scratch root when the binary exits normally; not when a
// child of its exits (a death test's, which runs exit(3)).
struct root_remover {
    std::string root;
    pid_t maker = 0;
    ~root_remover()
    {
        if (!root.empty() && getpid() == maker)
            remove_scratch();
    }
};
root_remover the_root;

} // namespace

const std::string& scratch_root()
{
    if (the_root.root.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/ruvo-tests-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp " + pattern + ": " + std::strerror(errno));
        the_root.root = pattern;
        the_root.maker = getpid();
        note_scratch(pattern);
    }
    return the_root.root;
}

void note_scratch(const std::string& path)
{
    for (auto& slot : scratch_paths)
        if (slot[0] == '\0' && path.size() < sizeof slot) {
            std::memcpy(slot, path.c_str(), path.size() + 1);
            return;
        }
}

void forget_scratch(const std::string& path)
{
    for (auto& slot : scratch_paths)
        if (path == slot)
            slot[0] = '\0';
}

void remove_scratch()
{
    const char* argv[3 + sizeof scratch_paths / sizeof scratch_paths[0]] = {"rm", "-rf"};
    std::size_t n = 2;
    for (const auto& slot : scratch_paths)
        if (slot[0] != '\0')
            argv[n++] = slot;
    if (n == 2)
        return;
    argv[n] = nullptr;
    const pid_t pid = fork();
    if (pid == 0) {
        execv("/bin/rm", const_cast<char* const*>(argv));
        _exit(127);
    }
    int raw = 0;
    while (pid > 0 && waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
    }
    for (auto& slot : scratch_paths)
        slot[0] = '\0';
}

temp_file::temp_file(const std::string& dir)
{
    const std::string folder = dir.empty() ? scratch_root() : dir;
    path_ = folder + "/ruvo-test-XXXXXX";
    fd_ = mkstemp(path_.data());
    if (fd_ < 0)
        throw std::runtime_error("mkstemp in " + folder + ": " + std::strerror(errno));
    if (!dir.empty())
        note_scratch(path_);
}

temp_file::~temp_file()
{
    close(fd_);
    unlink(path_.c_str());
    forget_scratch(path_);
}

std::string header(const std::string& name, bool first)
{
    return std::string(first ? "" : "\n") + "====> \033[1m" + name + "\033[m <====\n";
}

} // namespace ruvo::test
