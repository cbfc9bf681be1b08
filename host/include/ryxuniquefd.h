// The one owner of a file descriptor: ryx::UniqueFd closes what it holds when it
// goes, and hands it over on a move. close() reports the result for a writer
// that must know its data reached the file.
//
//   ryx::UniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC));
//   if (!fd) ...
//
// Header only, with no dependency beyond the C library.
#ifndef RYXUNIQUEFD_H
#define RYXUNIQUEFD_H

#include <unistd.h>

#include <cerrno>
#include <string>

namespace ryx {

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    // Gives the descriptor up without closing it.
    int release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    // Closes the held descriptor (errors ignored) and takes fd.
    void reset(int fd = -1) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
    // Closes the held descriptor; false, with errno set, when close fails.
    bool close() {
        const int fd = release();
        return fd < 0 || ::close(fd) == 0;
    }

  private:
    int m_fd = -1;
};

// All of bytes to fd, across interruptions and short writes; false, with errno
// set, on a failure.
inline bool writeAll(int fd, const std::string& bytes) {
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

}  // namespace ryx

#endif
