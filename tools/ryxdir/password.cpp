#include "password.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "ryxuniquefd.h"
#include "status.h"

namespace ryxdir {

void Secret::clear() {
    m_text.resize(m_text.capacity());
    if (!m_text.empty()) {
        OPENSSL_cleanse(&m_text[0], m_text.size());
    }
    m_text.clear();
}

namespace {

// A password line longer than this is not a password.
constexpr size_t kMaxPassword = 1 << 20;

// Reads until a line end, the end of the input or kMaxPassword bytes; what
// follows the first line end is dropped. Returns false with errno set on a read
// error.
bool readLine(int fd, std::string& line, bool& sawNul) {
    line.reserve(256);
    char buffer[4096];
    bool ended = false;
    while (!ended && line.size() < kMaxPassword) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            OPENSSL_cleanse(buffer, sizeof buffer);
            return false;
        }
        const char* end = static_cast<const char*>(std::memchr(buffer, '\n', n));
        const size_t take = end != nullptr ? static_cast<size_t>(end - buffer) : n;
        sawNul = sawNul || std::memchr(buffer, '\0', take) != nullptr;
        line.append(buffer, std::min(take, kMaxPassword - line.size()));
        ended = n == 0 || end != nullptr;
    }
    OPENSSL_cleanse(buffer, sizeof buffer);
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return true;
}

}  // namespace

Secret readPasswordFile(const std::string& path) {
    const std::string what = "password file \"" + path + "\"";
    const ryx::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    struct stat st;
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) {
        usageError("cannot read " + what + ": " + std::strerror(errno));
    }
    if (S_ISDIR(st.st_mode)) {
        usageError(what + " is a folder");
    }
    Secret secret;
    std::string line;
    bool sawNul = false;
    const bool ok = readLine(fd.get(), line, sawNul);
    const int error = errno;
    secret = Secret(std::move(line));
    if (!ok) {
        usageError("cannot read " + what + ": " + std::strerror(error));
    }
    if (sawNul) {
        usageError(what + " holds a NUL byte");
    }
    if (secret.empty()) {
        usageError(what + " is empty");
    }
    return secret;
}

namespace {

// The terminal settings to restore when a signal ends the prompt.
int g_ttyFd = -1;
struct termios g_saved;

void restoreAndReraise(int sig) {
    if (g_ttyFd >= 0) {
        ::tcsetattr(g_ttyFd, TCSAFLUSH, &g_saved);
        (void)!::write(g_ttyFd, "\n", 1);
    }
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

}  // namespace

Secret promptPassword(const std::string& prompt) {
    const ryx::UniqueFd tty(::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY));
    if (tty.get() < 0) {
        usageError(std::string("-W needs a terminal to ask for the password: /dev/tty: ") +
                   std::strerror(errno));
    }
    struct termios quiet;
    if (::tcgetattr(tty.get(), &g_saved) != 0) {
        usageError(std::string("-W cannot use the terminal: ") + std::strerror(errno));
    }
    quiet = g_saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
    quiet.c_lflag |= ICANON;

    g_ttyFd = tty.get();
    const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};
    struct sigaction restore = {}, previous[5];
    restore.sa_handler = restoreAndReraise;
    for (size_t i = 0; i < 5; ++i) {
        ::sigaction(signals[i], &restore, &previous[i]);
    }
    (void)!::write(tty.get(), prompt.data(), prompt.size());
    ::tcsetattr(tty.get(), TCSAFLUSH, &quiet);
    std::string line;
    bool sawNul = false;
    const bool ok = readLine(tty.get(), line, sawNul);
    const int error = errno;
    ::tcsetattr(tty.get(), TCSAFLUSH, &g_saved);
    (void)!::write(tty.get(), "\n", 1);
    for (size_t i = 0; i < 5; ++i) {
        ::sigaction(signals[i], &previous[i], nullptr);
    }
    g_ttyFd = -1;

    Secret secret(std::move(line));
    if (!ok) {
        usageError(std::string("cannot read the password from the terminal: ") +
                   std::strerror(error));
    }
    if (sawNul) {
        usageError("the password holds a NUL byte");
    }
    return secret;
}

}  // namespace ryxdir
