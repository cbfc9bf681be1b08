#include "files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cmdline.h"
#include "ryxuniquefd.h"

namespace cmdline {

void writeNewFile(const std::string& path, const std::string& bytes, mode_t mode, int status) {
    ryx::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (fd.get() < 0) {
        throw Failure{status, "cannot create " + path + ": " + std::strerror(errno)};
    }
    const bool written = ryx::writeAll(fd.get(), bytes);
    const int error = errno;
    if (!fd.close() || !written) {
        throw Failure{status,
                      "cannot write " + path + ": " + std::strerror(written ? errno : error)};
    }
}

}  // namespace cmdline
