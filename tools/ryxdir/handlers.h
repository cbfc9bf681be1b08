// One handler per command; each returns the exit status.
#ifndef RYXDIR_HANDLERS_H
#define RYXDIR_HANDLERS_H

#include "output.h"
#include "settings.h"

namespace ryxdir {

int runCa(Settings& settings, Output& out);
int runUser(Settings& settings, Output& out);
int runCrl(Settings& settings, Output& out);
int runArl(Settings& settings, Output& out);
int runUrl(Settings& settings, Output& out);
int runCheck(Settings& settings, Output& out);
int runVerify(Settings& settings, Output& out);
int runLoadedFrom(Settings& settings, Output& out);

}  // namespace ryxdir

#endif
