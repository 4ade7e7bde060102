// The driver: the start-up in its order, the loop over the inputs, the
// header lines between them and the exit status.
#ifndef RUVO_CLI_HPP
#define RUVO_CLI_HPP

namespace ruvo {

// The whole program: returns the exit status, or ends the process through
// err(3) on a fatal error.
int run(int argc, char** argv);

} // namespace ruvo

#endif
