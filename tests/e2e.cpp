#include "e2e.hpp"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
#include <stdexcept>

#ifndef RUVO_BINARY
#error "RUVO_BINARY must name the binary under test"
#endif

extern char** environ;

namespace ruvo::test {

namespace fs = std::filesystem;

std::string binary_under_test()
{
    const char* other = std::getenv("RUVO_TEST_BINARY");
    return other != nullptr && *other != '\0' ? other : RUVO_BINARY;
}

std::string sys_error(int e)
{
    return binary_under_test() == RUVO_BINARY ? std::strerror(e) : "<any>";
}

pid_t start_ruvo(const std::vector<std::string>& args, int in, int out)
{
    const std::string binary = binary_under_test();
    std::vector<char*> argv{const_cast<char*>(binary.c_str())};
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, "RUVO_COLORS=", 12) != 0)
            envp.push_back(*e);
    envp.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        if (dup2(in, STDIN_FILENO) < 0 || dup2(out, STDOUT_FILENO) < 0)
            _exit(127);
        execve(binary.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    if (pid < 0)
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    return pid;
}

int wait_status(pid_t pid)
{
    int raw = 0;
    while (waitpid(pid, &raw, 0) == -1)
        if (errno != EINTR)
            return -1;
    if (WIFEXITED(raw))
        return WEXITSTATUS(raw);
    return WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
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

scratch::scratch(const std::map<std::string, bytes>& files)
{
    std::string pattern = (fs::temp_directory_path() / "ruvo-e2e-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp");
    dir_ = pattern;
    for (const auto& [name, data] : files)
        write_file(dir_ + "/" + name, data);
}

scratch::~scratch()
{
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

run_result scratch::run(const std::string& script) const
{
    const std::string file = dir_ + "/.script";
    const std::string text = "cd '" + dir_ + "' || exit 99\nunset RUVO_COLORS\nRUVO='" +
                             binary_under_test() + "'\n" + script + "\n";
    write_file(file, bytes(text.begin(), text.end()));
    const std::string command =
        "/bin/sh '" + file + "' >'" + dir_ + "/.out' 2>'" + dir_ + "/.err' </dev/null";
    const int raw = std::system(command.c_str());
    run_result r;
    r.out = read_file(dir_ + "/.out");
    r.err = read_file(dir_ + "/.err");
    if (raw != -1 && WIFEXITED(raw))
        r.status = WEXITSTATUS(raw);
    return r;
}

bool stderr_matches(const std::string& err, const std::string& pattern)
{
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    std::string re;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t any = pattern.find("<any>", pos);
        re += std::regex_replace(pattern.substr(pos, any - pos), special, R"(\$&)");
        if (any == std::string::npos)
            break;
        re += "[^\n]+";
        pos = any + 5;
    }
    return std::regex_match(err, std::regex(re));
}

} // namespace ruvo::test
