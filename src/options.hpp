// Option processing: -r and -w into the dump settings, and the usage line
// for anything else.
#ifndef RUVO_OPTIONS_HPP
#define RUVO_OPTIONS_HPP

#include "render.hpp"

namespace ruvo {

// Applies the options in front of the operands to `settings`, in order,
// under POSIX rules (the first operand, or "--", ends them).  Returns the
// index of the first operand, or -1 after writing the usage line.  An
// invalid range or width ends the program with its message.
int process_options(int argc, char** argv, dump_settings& settings);

} // namespace ruvo

#endif
