// --batch: operands read from standard input, one a line. Blank lines are
// passed over; a line too long or holding a NUL byte is reported as a usage
// failure of its own. Each other line goes to the handler, which writes the
// line's result and returns its status, leaving why empty unless the line
// failed (a bad operand, a directory error). A failed line is also reported on
// standard error and ends the run only with --stop-on-error. The exit status
// is the highest of the lines' (0 for no lines).
#ifndef RYXDIR_BATCHINPUT_H
#define RYXDIR_BATCHINPUT_H

#include <functional>
#include <string>

#include "output.h"
#include "settings.h"

namespace ryxdir {

using LineHandler = std::function<int(const std::string& operand, std::string& why)>;

int eachInputLine(const Settings& settings, Output& out, const LineHandler& handle);

}  // namespace ryxdir

#endif
