// Preloaded into ruvo by a test, to make the system fail where a test
// says so in the environment:
//  - RUVO_TEST_SEEK_ERROR=ESPIPE or EINVAL: every lseek(2) fails with
//    that error, as it does on the regular files of file systems that
//    deliver streams (tracefs's trace_pipe, many FUSE files);
//  - RUVO_TEST_NO_MEMORY=strdup: strdup(3) fails with ENOMEM;
//  - RUVO_TEST_PSEUDO_FILE=1: regular files behave as the pseudo-files of
//    /proc/sys do: their size says 0, and a read gives bytes only when
//    the reading began at offset 0 (a read elsewhere finds the end).
// Defined here without <unistd.h> and <string.h>, whose large-file
// renaming and declarations would clash with these definitions.
#include <dlfcn.h>
#include <sys/stat.h>

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

// The descriptors whose reading began at offset 0, for the pseudo-files.
bool read_from_0[1024];

long seek(int fd, long offset, int whence)
{
    if (offset == 0 && whence == 0 && fd >= 0 && fd < 1024)
        read_from_0[fd] = false; // SEEK_SET to 0: reading begins again
    const char* e = wanted("RUVO_TEST_SEEK_ERROR");
    if (*e == '\0') {
        using lseek_t = long (*)(int, long, int);
        static const auto real = next_one<lseek_t>("lseek");
        return real(fd, offset, whence);
    }
    errno = same(e, "EINVAL") ? EINVAL : ESPIPE;
    return -1;
}

bool pseudo_files()
{
    return same(wanted("RUVO_TEST_PSEUDO_FILE"), "1");
}

template <typename Stat> int report_empty(int result, const Stat* st)
{
    if (result == 0 && pseudo_files() && S_ISREG(st->st_mode))
        const_cast<Stat*>(st)->st_size = 0;
    return result;
}

} // namespace

extern "C" int fstat(int fd, struct stat* st)
{
    using fstat_t = int (*)(int, struct stat*);
    static const auto real = next_one<fstat_t>("fstat");
    return report_empty(real(fd, st), st);
}

#if defined(__GLIBC__)
// glibc's large-file name for it, which a program built with 64-bit
// offsets calls.
extern "C" int fstat64(int fd, struct stat64* st)
{
    using fstat_t = int (*)(int, struct stat64*);
    static const auto real = next_one<fstat_t>("fstat64");
    return report_empty(real(fd, st), st);
}
#endif

extern "C" long read(int fd, void* to, unsigned long n)
{
    using read_t = long (*)(int, void*, unsigned long);
    using lseek_t = long (*)(int, long, int);
    static const auto real = next_one<read_t>("read");
    static const auto real_seek = next_one<lseek_t>("lseek");
    if (pseudo_files() && fd >= 0 && fd < 1024) {
        const long at = real_seek(fd, 0, 1); // SEEK_CUR; -1 for a stream
        if (at == 0)
            read_from_0[fd] = true;
        else if (at > 0 && !read_from_0[fd])
            return 0;
    }
    return real(fd, to, n);
}

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
