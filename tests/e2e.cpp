#include "e2e.hpp"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
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

pid_t start_ruvo(const std::vector<std::string>& args, int in, int out,
                 const start_options& options)
{
    const std::string binary = binary_under_test();
    std::vector<char*> argv{
        const_cast<char*>(options.name != nullptr ? options.name : binary.c_str())};
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (options.no_arguments)
        argv = {nullptr};
    const auto replaced = [&options](const char* entry) {
        if (std::strncmp(entry, "RUVO_COLORS=", 12) == 0)
            return true;
        for (const auto& e : options.env) {
            const std::size_t name = e.find('=') + 1;
            if (std::strncmp(entry, e.c_str(), name) == 0)
                return true;
        }
        return false;
    };
    std::vector<char*> envp;
    for (char** e = environ; *e != nullptr; ++e)
        if (!replaced(*e))
            envp.push_back(*e);
    for (const auto& e : options.env)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        if (dup2(in, STDIN_FILENO) < 0 || dup2(out, STDOUT_FILENO) < 0 ||
            (options.err >= 0 && dup2(options.err, STDERR_FILENO) < 0) ||
            (options.own_group && setpgid(0, 0) != 0))
            _exit(127);
        if (options.user > 0 &&
            (setgroups(0, nullptr) != 0 || setgid(options.user) != 0 || setuid(options.user) != 0))
            _exit(127);
        if (options.close_err)
            close(STDERR_FILENO);
        if (options.max_files > 0) {
            for (int fd = 3; fd < 1024; ++fd)
                close(fd);
            const rlimit limit{static_cast<rlim_t>(options.max_files),
                               static_cast<rlim_t>(options.max_files)};
            if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
                _exit(127);
        }
        execve(binary.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    if (pid < 0)
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    return pid;
}

namespace {

int status_of(int raw)
{
    if (WIFEXITED(raw))
        return WEXITSTATUS(raw);
    return WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
}

// Waits for pid until `limit`: true with *raw set once it has ended.
bool wait_within(pid_t pid, std::chrono::milliseconds limit, int* raw)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const pid_t got = waitpid(pid, raw, WNOHANG);
        if (got == pid)
            return true;
        if (got == -1 && errno != EINTR)
            return false;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

} // namespace

int wait_status(pid_t pid, std::chrono::milliseconds limit)
{
    int raw = 0;
    if (wait_within(pid, limit, &raw))
        return status_of(raw);
    std::fprintf(stderr, "ruvo (pid %d) was still running after %lld ms: killed\n",
                 static_cast<int>(pid), static_cast<long long>(limit.count()));
    kill(pid, SIGKILL);
    (void)wait_within(pid, std::chrono::seconds(5), &raw);
    return still_running;
}

pty::pty()
{
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        return;
    const char* name = ptsname(master);
    if (name != nullptr)
        slave = open(name, O_RDWR | O_NOCTTY);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    // No output processing: the bytes arrive as ruvo wrote them, and a
    // write cut short by a signal stops at any byte, not only where a
    // "\n" would not fit as "\r\n".  No echo of what the test types.
    termios mode{};
    if (tcgetattr(slave, &mode) == 0) {
        mode.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        mode.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(slave, TCSANOW, &mode);
    }
}

pty::~pty()
{
    close(master);
    close_slave();
}

void pty::close_slave()
{
    if (slave >= 0)
        close(slave);
    slave = -1;
}

std::string drain(int fd, std::chrono::milliseconds how_long)
{
    std::string text;
    (void)read_until(fd, &text, std::string::npos, how_long);
    return text;
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

run_result scratch::run(const std::string& script, std::chrono::milliseconds limit) const
{
    const std::string file = dir_ + "/.script";
    const std::string text = "cd '" + dir_ + "' || exit 99\nunset RUVO_COLORS\nRUVO='" +
                             binary_under_test() + "'\n" + script + "\n";
    write_file(file, bytes(text.begin(), text.end()));
    const std::string out = dir_ + "/.out";
    const std::string err = dir_ + "/.err";
    const pid_t pid = fork();
    if (pid == 0) {
        // A group of its own, so that a deadline can end the whole script.
        setpgid(0, 0);
        const int in = open("/dev/null", O_RDONLY);
        const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || o < 0 || e < 0 || dup2(in, 0) < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0)
            _exit(98);
        execl("/bin/sh", "sh", file.c_str(), static_cast<char*>(nullptr));
        _exit(97);
    }
    if (pid < 0)
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    setpgid(pid, pid);
    int raw = 0;
    const bool ended = wait_within(pid, limit, &raw);
    if (!ended) {
        kill(-pid, SIGKILL);
        (void)wait_within(pid, std::chrono::seconds(5), &raw);
    }
    run_result r;
    r.out = read_file(out);
    r.err = read_file(err);
    r.status = ended ? status_of(raw) : still_running;
    if (!ended)
        r.err += "[the script was still running after " + std::to_string(limit.count()) +
                 " ms: killed]\n";
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
