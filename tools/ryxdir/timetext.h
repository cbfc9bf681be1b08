// Validation times given on the command line.
#ifndef RYXDIR_TIMETEXT_H
#define RYXDIR_TIMETEXT_H

#include <ctime>
#include <string>

namespace ryxdir {

// "YYYY-MM-DDTHH:MM:SSZ" (UTC) or a number of seconds since the epoch. False
// when text is neither or names no real moment (2027-02-30).
bool parseTime(const std::string& text, std::time_t& when);

}  // namespace ryxdir

#endif
