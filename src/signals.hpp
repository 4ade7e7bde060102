// The signals that end (Ctrl-C, SIGTERM, SIGHUP, SIGQUIT) or stop (Ctrl-Z)
// an interactive dump: on a terminal the colours go off first, and a stop
// is counted so that the writer starts the cut line again.
#ifndef RUVO_SIGNALS_HPP
#define RUVO_SIGNALS_HPP

#include <csignal>

namespace ruvo {

// When standard output is a terminal, catches the signals that usually
// end (SIGINT, SIGTERM, SIGHUP, SIGQUIT) or stop (SIGTSTP) an interactive
// run, to switch the terminal's colours off first.  Signals ignored at
// start-up stay ignored.  The reset's bound is a timer of ruvo's own, on
// a real-time signal that nobody else uses: SIGALRM and the interval
// timers are never touched.
void reset_colours_on_signals();

// How often a stop (Ctrl-Z) has switched the colours off in the middle of
// the output.  The one piece of state that two units share, as a signal
// handler must: the handler of SIGTSTP counts, the writer (io) looks.
extern volatile std::sig_atomic_t output_stops;

} // namespace ruvo

#endif
