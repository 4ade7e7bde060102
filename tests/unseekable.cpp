// Preloaded into ruvo by a test: every lseek(2) fails, as it does on the
// regular files of file systems that deliver streams (tracefs's
// trace_pipe, many FUSE files).  The error is ESPIPE, or EINVAL where
// RUVO_TEST_SEEK_ERROR says so.  Declared here without <unistd.h>, whose
// large-file renaming would clash with defining both names.
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {
long fail_seek()
{
    const char* e = std::getenv("RUVO_TEST_SEEK_ERROR");
    errno = e != nullptr && std::strcmp(e, "EINVAL") == 0 ? EINVAL : ESPIPE;
    return -1;
}
} // namespace

extern "C" long lseek(int /*fd*/, long /*offset*/, int /*whence*/)
{
    return fail_seek();
}

extern "C" long long lseek64(int /*fd*/, long long /*offset*/, int /*whence*/)
{
    return fail_seek();
}
