// A terminal as the destination of text.  Outside text (names,
// arguments, palette tokens) is made harmless before a terminal shows it;
// the signals that end or stop an interactive dump switch the colours off
// first; and after a stop, the text goes on from the start of a line.
#ifndef RUVO_TERMINAL_HPP
#define RUVO_TERMINAL_HPP

#include <csignal>
#include <cstddef>

namespace ruvo {

// Rewrites text so that a terminal shows it as text, never as a command:
// each control character (C0, DEL, and C1 whether as the UTF-8 sequences
// C2 80 to C2 9F or as a raw byte 0x80 to 0x9F outside a valid UTF-8
// sequence) becomes one '?'.  Everything else, valid UTF-8 included, is
// copied as it is.  Writes the result and a NUL to `to`, which needs room
// for strlen(from) + 1 bytes (the result is never longer), and returns
// the result's length.  `to` may be `from`.
std::size_t neutralise_controls(char* to, const char* from);

// Outside text (a file name, an argument, a palette token) as it is to be
// shown on descriptor fd: on a terminal with its control characters
// neutralised, elsewhere byte for byte as it is.  A copy is made only
// where something has to change.
class shown_text {
  public:
    shown_text(const char* text, int fd);
    ~shown_text();
    shown_text(const shown_text&) = delete;
    shown_text& operator=(const shown_text&) = delete;

    const char* c_str() const { return text_; }

  private:
    const char* text_;
    char* copy_ = nullptr;
};

// When standard output is a terminal, catches the signals that usually
// end (SIGINT, SIGTERM, SIGHUP, SIGQUIT) or stop (SIGTSTP) an interactive
// run, to switch the terminal's colours off first.  Signals ignored at
// start-up stay ignored.  The reset's bound is a timer of ruvo's own, on
// a real-time signal that nobody else uses: SIGALRM and the interval
// timers are never touched.
void reset_colours_on_signals();

// How often a stop (Ctrl-Z) has switched the colours off in the middle of
// the output: the handler of SIGTSTP counts, the writer of standard output
// looks.
extern volatile std::sig_atomic_t output_stops;

// Where to go on with terminal text after a stop, when its first `cut`
// bytes have been written: the start of the line that holds the cut.  On
// a terminal with default settings, Ctrl-Z throws away the output still
// queued for it, so the screen may stop anywhere before the cut; a line
// sent again whole, on a line of its own, draws under its own label.
std::size_t resume_point(const char* text, std::size_t cut);

} // namespace ruvo

#endif
