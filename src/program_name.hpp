// The name that messages give the program: the base name it was run
// under, for err(3) and getopt(3) alike.
#ifndef RUVO_PROGRAM_NAME_HPP
#define RUVO_PROGRAM_NAME_HPP

namespace ruvo {

// Names the program after argv0 (nullptr where there is no argv[0]): its
// base name, or "ruvo" where that is empty, for err(3) and warn(3) from
// now on.  Rewrites argv0 in place, on a terminal, so that its control
// characters show as '?'; the caller hands the result to getopt as
// argv[0].  Returns the name.
char* name_the_program(char* argv0);

} // namespace ruvo

#endif
