// One handler per command; each returns the exit status. The commands that
// fetch objects share one handler and differ in their retrieval of an operand.
#ifndef RYXDIR_HANDLERS_H
#define RYXDIR_HANDLERS_H

#include <string>

#include "output.h"
#include "settings.h"

namespace ryxdir {

class Directory;

Found fetchCa(Directory& directory, const std::string& name);
Found fetchUser(Directory& directory, const std::string& name);
Found fetchCrl(Directory& directory, const std::string& name);
Found fetchArl(Directory& directory, const std::string& name);
Found fetchUrl(Directory& directory, const std::string& url);

int runFetch(Settings& settings, Output& out);
// --batch: the command's operands read from standard input.
int runBatch(Settings& settings, Output& out);
int runCheck(Settings& settings, Output& out);
int runVerify(Settings& settings, Output& out);
int runLoadedFrom(Settings& settings, Output& out);

}  // namespace ryxdir

#endif
