#include "e2e.hpp"

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <stdexcept>

#ifndef RUVO_BINARY
#error "RUVO_BINARY must name the binary under test"
#endif

namespace ruvo::test {

namespace fs = std::filesystem;

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
                             RUVO_BINARY + "'\n" + script + "\n";
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
