#include "program_name.hpp"

#include <unistd.h>

#include <cerrno>  // program_invocation_short_name, with GNU extensions
#include <cstdlib> // setprogname, on the BSDs
#include <cstring>

#include "visible.hpp"

#if defined(__linux__) && !defined(_GNU_SOURCE)
// What err(3) and warn(3) name the program by, in glibc and in musl alike;
// <errno.h> declares it only where GNU extensions are asked for.
extern "C" char* program_invocation_short_name;
#endif

namespace ruvo {

namespace {

// The base name of argv0, or "ruvo" where that is empty (an empty argv[0],
// or one ending in '/').  On a terminal its control characters are
// neutralised in place, in argv0 itself, as for any other outside text.
char* base_name(char* argv0)
{
    static char fallback[] = "ruvo";
    if (argv0 == nullptr)
        return fallback;
    char* slash = std::strrchr(argv0, '/');
    char* base = slash != nullptr ? slash + 1 : argv0;
    if (*base == '\0')
        return fallback;
    if (isatty(STDERR_FILENO) != 0)
        neutralise_controls(base, base);
    return base;
}

// Makes err(3) and warn(3) use that name: by default they take the base
// name of argv[0], empty or not.
void set_program_name(char* name)
{
#if defined(__FreeBSD__) || defined(__NetBSD__) || defined(__OpenBSD__) || defined(__DragonFly__)
    setprogname(name);
#elif defined(__linux__)
    program_invocation_short_name = name;
#else
    (void)name;
#endif
}

} // namespace

char* name_the_program(char* argv0)
{
    char* name = base_name(argv0);
    set_program_name(name);
    return name;
}

} // namespace ruvo
