// Files a command creates for its user.
#ifndef RYX_CMDLINE_FILES_H
#define RYX_CMDLINE_FILES_H

#include <sys/types.h>

#include <string>

namespace cmdline {

// Creates path, which must not exist (nor be a link), with mode and writes
// bytes. Fails with status, naming the file and the reason.
void writeNewFile(const std::string& path, const std::string& bytes, mode_t mode, int status);

}  // namespace cmdline

#endif
