#include "e2e.hpp"

#include <fcntl.h>
#include <poll.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
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

namespace {

// A copy of the binary that `user` can run, in a folder of its own (the
// build tree may sit in a folder that only its owner may enter, as under
// /root).  The first of $TMPDIR, /tmp, /var/tmp and /dev/shm in which the
// user can reach the copy is taken.
class copy_for_user {
  public:
    copy_for_user(const std::string& binary, uid_t user)
    {
        std::vector<std::string> places{"/tmp", "/var/tmp", "/dev/shm"};
        if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0')
            places.insert(places.begin(), tmp);
        for (const auto& place : places) {
            std::string dir = place + "/ruvo-user-XXXXXX";
            if (mkdtemp(dir.data()) == nullptr)
                continue;
            dir_ = dir;
            path_ = dir + "/ruvo";
            std::error_code ec;
            fs::copy_file(binary, path_, ec);
            if (!ec && chmod(dir.c_str(), 0711) == 0 && chmod(path_.c_str(), 0755) == 0 &&
                can_run(user))
                return;
            remove();
        }
        throw std::runtime_error("not run: no temporary folder here lets user " +
                                 std::to_string(user) + " reach a copy of the program");
    }
    ~copy_for_user() { remove(); }
    copy_for_user(const copy_for_user&) = delete;
    copy_for_user& operator=(const copy_for_user&) = delete;

    const std::string& path() const { return path_; }

  private:
    // Whether the user can execute the copy, as the user finds out.
    bool can_run(uid_t user) const
    {
        const pid_t pid = fork();
        if (pid == 0)
            _exit(setgroups(0, nullptr) == 0 && setgid(user) == 0 && setuid(user) == 0 &&
                          access(path_.c_str(), X_OK) == 0
                      ? 0
                      : 1);
        int raw = 0;
        return pid > 0 && waitpid(pid, &raw, 0) == pid && WIFEXITED(raw) && WEXITSTATUS(raw) == 0;
    }
    void remove()
    {
        std::error_code ec;
        if (!dir_.empty())
            fs::remove_all(dir_, ec);
        dir_.clear();
    }

    std::string dir_;
    std::string path_;
};

// What the child of start_ruvo() reports through its pipe when it cannot
// exec: the step that failed and its errno.
struct start_failure {
    int step;
    int error;
};
const char* const start_steps[] = {"set up its descriptors and folder", "switch to the user",
                                   "limit its descriptors", "exec"};

} // namespace

pid_t start_ruvo(const std::vector<std::string>& args, int in, int out,
                 const start_options& options)
{
    std::string binary = binary_under_test();
    std::unique_ptr<copy_for_user> copy;
    if (options.user > 0) {
        copy = std::make_unique<copy_for_user>(binary, options.user);
        binary = copy->path();
    }
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

    // Closed by a successful exec; otherwise the child says what failed.
    int report[2];
    if (pipe(report) != 0)
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    fcntl(report[0], F_SETFD, FD_CLOEXEC);
    fcntl(report[1], F_SETFD, FD_CLOEXEC);
    const pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        const auto fail = [&report](int step) {
            const start_failure f{step, errno};
            (void)!write(report[1], &f, sizeof f);
            _exit(127);
        };
        if (dup2(in, STDIN_FILENO) < 0 || dup2(out, STDOUT_FILENO) < 0 ||
            (options.err >= 0 && dup2(options.err, STDERR_FILENO) < 0) ||
            (options.own_group && setpgid(0, 0) != 0))
            fail(0);
        if (options.user > 0 &&
            (setgroups(0, nullptr) != 0 || setgid(options.user) != 0 || setuid(options.user) != 0))
            fail(1);
        if (options.dir != nullptr && chdir(options.dir) != 0)
            fail(0);
        if (options.block_alarm) {
            sigset_t alarm_only;
            sigemptyset(&alarm_only);
            sigaddset(&alarm_only, SIGALRM);
            (void)sigprocmask(SIG_BLOCK, &alarm_only, nullptr);
        }
        if (options.alarm > 0)
            (void)alarm(options.alarm);
        if (options.close_err)
            close(STDERR_FILENO);
        if (options.max_files > 0) {
            for (int fd = 3; fd < 1024; ++fd)
                if (fd != report[1])
                    close(fd);
            const rlimit limit{static_cast<rlim_t>(options.max_files),
                               static_cast<rlim_t>(options.max_files)};
            if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
                fail(2);
        }
        execve(binary.c_str(), argv.data(), envp.data());
        fail(3);
    }
    const int fork_error = errno;
    close(report[1]);
    if (pid < 0) {
        close(report[0]);
        throw std::runtime_error(std::string("fork: ") + std::strerror(fork_error));
    }
    start_failure failed{};
    ssize_t got = 0;
    do
        got = read(report[0], &failed, sizeof failed);
    while (got < 0 && errno == EINTR);
    close(report[0]);
    if (got == static_cast<ssize_t>(sizeof failed)) {
        int raw = 0;
        (void)waitpid(pid, &raw, 0);
        throw std::runtime_error("could not start " + binary + ": " + start_steps[failed.step] +
                                 ": " + std::strerror(failed.error));
    }
    note_started(pid);
    return pid;
}

int cloexec_pipe(int ends[2])
{
    if (pipe(ends) != 0)
        return -1;
    fcntl(ends[0], F_SETFD, FD_CLOEXEC);
    fcntl(ends[1], F_SETFD, FD_CLOEXEC);
    return 0;
}

int cloexec_socketpair(int ends[2])
{
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0)
        return -1;
    fcntl(ends[0], F_SETFD, FD_CLOEXEC);
    fcntl(ends[1], F_SETFD, FD_CLOEXEC);
    return 0;
}

namespace {

// Reads both descriptors to their ends, as they come, until `limit`:
// false past it.
bool read_both(int out, std::string* out_text, int err, std::string* err_text,
               std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    pollfd p[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    std::string* texts[2] = {out_text, err_text};
    while (p[0].fd >= 0 || p[1].fd >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || poll(p, 2, static_cast<int>(left.count())) <= 0)
            return false;
        for (int k = 0; k < 2; ++k) {
            if (p[k].fd < 0 || p[k].revents == 0)
                continue;
            char buf[65536];
            const ssize_t n = read(p[k].fd, buf, sizeof buf);
            if (n > 0)
                texts[k]->append(buf, static_cast<std::size_t>(n));
            else
                p[k].fd = -1;
        }
    }
    return true;
}

} // namespace

run_result run_ruvo(const std::vector<std::string>& args, const start_options& how,
                    std::chrono::milliseconds limit, int in)
{
    int output[2] = {-1, -1};
    int error[2] = {-1, -1};
    const bool own_err = how.err < 0 && !how.close_err;
    if (cloexec_pipe(output) != 0 || (own_err && cloexec_pipe(error) != 0))
        throw std::runtime_error("no pipe for ruvo's output");
    const int null = in < 0 ? open("/dev/null", O_RDONLY | O_CLOEXEC) : -1;
    start_options options = how;
    if (own_err)
        options.err = error[1];
    run_result r;
    pid_t pid = -1;
    try {
        pid = start_ruvo(args, in < 0 ? null : in, output[1], options);
    } catch (...) {
        for (int fd : {null, output[0], output[1], error[0], error[1]})
            if (fd >= 0)
                close(fd);
        throw;
    }
    for (int fd : {null, output[1], error[1]})
        if (fd >= 0)
            close(fd);
    std::string late;
    const bool ended = own_err ? read_both(output[0], &r.out, error[0], &r.err, limit)
                               : read_until(output[0], &r.out, std::string::npos, limit);
    if (!ended)
        late = "\nno end of the output within " + std::to_string(limit.count()) + " ms";
    close(output[0]);
    if (error[0] >= 0)
        close(error[0]);
    r.status = wait_status(pid, ended ? limit : std::chrono::milliseconds(0));
    r.err += late;
    return r;
}

bool blocked_in(pid_t pid, std::initializer_list<long> calls, std::chrono::milliseconds limit)
{
    const std::string file = "/proc/" + std::to_string(pid) + "/syscall";
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const std::string now = read_file(file);
        if (now.empty())
            throw std::runtime_error("not run: " + file +
                                     " cannot be read, so the test cannot tell where the "
                                     "program waits");
        // The call's number, then its arguments; "running" when in none.
        for (const long call : calls)
            if (now.compare(0, std::to_string(call).size() + 1, std::to_string(call) + " ") == 0)
                return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

unsigned long long proc_field(pid_t pid, const char* file, const char* key, bool hex)
{
    const std::string path = "/proc/" + std::to_string(pid) + "/" + file;
    const std::string text = read_file(path);
    const std::string wanted = std::string("\n") + key + ":";
    const std::size_t at = ("\n" + text).find(wanted);
    if (text.empty() || at == std::string::npos)
        throw std::runtime_error("not run: " + path + " cannot be read or has no " + key);
    return std::strtoull(text.c_str() + at + wanted.size() - 1, nullptr, hex ? 16 : 10);
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

bool ended_unreaped(pid_t pid, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid == pid)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

int wait_status(pid_t pid, std::chrono::milliseconds limit)
{
    int raw = 0;
    if (wait_within(pid, limit, &raw)) {
        note_ended(pid);
        return status_of(raw);
    }
    std::fprintf(stderr, "ruvo (pid %d) was still running after %lld ms: killed\n",
                 static_cast<int>(pid), static_cast<long long>(limit.count()));
    kill(pid, SIGKILL);
    (void)wait_within(pid, std::chrono::seconds(5), &raw);
    note_ended(pid);
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
    std::string pattern = scratch_root() + "/e2e-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp");
    dir_ = pattern;
    for (const auto& [name, data] : files)
        write_file(dir_ + "/" + name, data);
}

scratch::~scratch()
{
    // A program that a test ended may still be going away, and write a
    // last file (a shell its history) after the folder was emptied: try
    // again for a moment.
    for (int tries = 0; tries < 100; ++tries) {
        std::error_code ec;
        fs::remove_all(dir_, ec);
        if (!fs::exists(dir_, ec))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::fprintf(stderr, "the scratch folder %s could not be removed\n", dir_.c_str());
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
    note_started(-pid);
    // The script's group ends with it, whatever its verdict: a background
    // job or a hung pipeline it leaves behind is killed too.  The script
    // stays unreaped until then, so that its pid, and with it the group's,
    // cannot have been handed to another process.
    const bool ended = ended_unreaped(pid, limit);
    kill(-pid, SIGKILL);
    int raw = 0;
    (void)wait_within(pid, std::chrono::seconds(5), &raw);
    note_ended(-pid);
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
