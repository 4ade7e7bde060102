// Outside text (names, arguments, palette tokens) made harmless before a
// terminal shows it: every control character becomes '?'.  Pure text
// work, safe for any caller.
#ifndef RUVO_VISIBLE_HPP
#define RUVO_VISIBLE_HPP

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

} // namespace ruvo

#endif
