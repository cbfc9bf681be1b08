// Where a bind password comes from: a file (-y) or the terminal (-W).
#ifndef RYXDIR_PASSWORD_H
#define RYXDIR_PASSWORD_H

#include <string>

#include "secret.h"

namespace ryxdir {

// The first line of the file at path, without its line end. Fails with a
// usage error when path is a folder, cannot be read, is empty or holds a NUL.
Secret readPasswordFile(const std::string& path);

// Asks for the password on the controlling terminal with echo turned off.
// Fails with a usage error when the process has no terminal.
Secret promptPassword(const std::string& prompt);

}  // namespace ryxdir

#endif
