// What ryxdir says on standard error while it works, beside its result and its
// failures: the progress of a long transfer and warnings. -q silences both.
#ifndef RYXDIR_TERMINAL_H
#define RYXDIR_TERMINAL_H

#include <chrono>
#include <string>

namespace ryxdir {

void setQuiet(bool quiet);
// "ryxdir: warning: TEXT" on standard error, unless quiet.
void warn(const std::string& text);

// "1.2 MB" for a byte count (decimal units).
std::string byteText(unsigned long long bytes);

// While alive, shows on standard error how much the searches of this thread
// have received and for how long ("ryxdir: 1.2 MB received, 3 s"), updated in
// place a few times a second once a search has taken more than a second, and
// cleared when it ends. Shows nothing when standard error is not a terminal or
// when quiet.
class Progress {
  public:
    Progress();
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

  private:
    using Clock = std::chrono::steady_clock;
    static void received(unsigned long long bytes, int ended, void* self);
    // Clears the line when one is shown.
    void end();
    void show(unsigned long long bytes);

    bool m_on;
    bool m_shown = false;
    Clock::time_point m_start;
    Clock::time_point m_last;
};

}  // namespace ryxdir

#endif
