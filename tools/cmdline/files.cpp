#include "files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cmdline.h"
#include "ryxuniquefd.h"

namespace cmdline {

namespace {

// All of bytes to fd, across interruptions and short writes.
bool writeAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

void writeNewFile(const std::string& path, const std::string& bytes, mode_t mode, int status) {
    ryx::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (fd.get() < 0) {
        throw Failure{status, "cannot create " + path + ": " + std::strerror(errno)};
    }
    const bool written = writeAll(fd.get(), bytes);
    const int error = errno;
    if (!fd.close() || !written) {
        throw Failure{status,
                      "cannot write " + path + ": " + std::strerror(written ? errno : error)};
    }
}

}  // namespace cmdline
