#include "scratch_files.hpp"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace ruvo::test {

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

} // namespace ruvo::test
