// Preloaded into ruvo by a test, to make the system fail where a test
// says so in the environment:
//  - RUVO_TEST_SEEK_ERROR=ESPIPE or EINVAL: every lseek(2) fails with
//    that error, as it does on the regular files of file systems that
//    deliver streams (tracefs's trace_pipe, many FUSE files);
//  - RUVO_TEST_NO_MEMORY=strdup: strdup(3) fails with ENOMEM.
// Defined here without <unistd.h> and <string.h>, whose large-file
// renaming and declarations would clash with these definitions.
#include <dlfcn.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>

namespace {

bool same(const char* a, const char* b)
{
    while (*a != '\0' && *a == *b)
        ++a, ++b;
    return *a == *b;
}

const char* wanted(const char* name)
{
    const char* e = std::getenv(name);
    return e != nullptr ? e : "";
}

template <typename F> F next_one(const char* name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

long seek(int fd, long offset, int whence)
{
    const char* e = wanted("RUVO_TEST_SEEK_ERROR");
    if (*e == '\0') {
        using lseek_t = long (*)(int, long, int);
        static const auto real = next_one<lseek_t>("lseek");
        return real(fd, offset, whence);
    }
    errno = same(e, "EINVAL") ? EINVAL : ESPIPE;
    return -1;
}

} // namespace

extern "C" long lseek(int fd, long offset, int whence)
{
    return seek(fd, offset, whence);
}

extern "C" long long lseek64(int fd, long long offset, int whence)
{
    return seek(fd, static_cast<long>(offset), whence);
}

extern "C" char* strdup(const char* s)
{
    if (same(wanted("RUVO_TEST_NO_MEMORY"), "strdup")) {
        errno = ENOMEM;
        return nullptr;
    }
    std::size_t n = 1;
    while (s[n - 1] != '\0')
        ++n;
    auto* copy = static_cast<char*>(std::malloc(n));
    for (std::size_t i = 0; copy != nullptr && i < n; ++i)
        copy[i] = s[i];
    return copy;
}
