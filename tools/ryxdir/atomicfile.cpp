#include "atomicfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "ryxuniquefd.h"
#include "status.h"

namespace ryxdir {

namespace {

[[noreturn]] void cannotWrite(const std::string& path, const std::string& why) {
    fail(EXIT_OUTPUT, "cannot write \"" + path + "\": " + why);
}

// Refuses a target that exists as anything but a regular file, or at all.
void checkTarget(int dirFd, const std::string& name, const std::string& path, Existing existing) {
    struct stat st;
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) {
            cannotWrite(path, std::strerror(errno));
        }
        return;
    }
    if (existing == Existing::Refuse) {
        cannotWrite(path, "it exists already");
    }
    if (S_ISLNK(st.st_mode)) {
        cannotWrite(path, "it is a symbolic link, which is not followed");
    }
    if (!S_ISREG(st.st_mode)) {
        cannotWrite(path, "it exists and is not a regular file");
    }
}

// The temporary file: removed again unless committed.
class Temporary {
  public:
    Temporary(int dirFd, const std::string& name, const std::string& path)
        : m_dirFd(dirFd), m_path(path) {
        std::random_device random;
        for (int attempt = 0; attempt < 16 && !m_fd; ++attempt) {
            m_name = "." + name + "." + std::to_string(random()) + ".tmp";
            m_fd.reset(::openat(dirFd, m_name.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
            if (!m_fd && errno != EEXIST) {
                break;
            }
        }
        if (!m_fd) {
            cannotWrite(path, std::string("cannot create a temporary file beside it: ") +
                                  std::strerror(errno));
        }
    }
    ~Temporary() {
        m_fd.reset();
        if (!m_committed) {
            ::unlinkat(m_dirFd, m_name.c_str(), 0);
        }
    }
    Temporary(const Temporary&) = delete;
    Temporary& operator=(const Temporary&) = delete;

    void write(const void* data, size_t size) {
        const char* p = static_cast<const char*>(data);
        while (size > 0) {
            const ssize_t n = ::write(m_fd.get(), p, size);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                cannotWrite(m_path, std::strerror(n < 0 ? errno : EIO));
            }
            p += n;
            size -= static_cast<size_t>(n);
        }
        if (::fsync(m_fd.get()) != 0) {
            cannotWrite(m_path, std::strerror(errno));
        }
        if (!m_fd.close()) {
            cannotWrite(m_path, std::strerror(errno));
        }
    }

    void renameTo(const std::string& name) {
        if (::renameat(m_dirFd, m_name.c_str(), m_dirFd, name.c_str()) != 0) {
            cannotWrite(m_path, std::strerror(errno));
        }
        m_committed = true;
    }

    // Gives the temporary the name only while no file holds it: a hard link
    // fails on an existing name, where a rename would replace it.
    void linkTo(const std::string& name) {
        if (::linkat(m_dirFd, m_name.c_str(), m_dirFd, name.c_str(), 0) != 0) {
            cannotWrite(m_path,
                        errno == EEXIST ? std::string("it exists already") : std::strerror(errno));
        }
    }

  private:
    int m_dirFd;
    std::string m_path;
    std::string m_name;
    ryx::UniqueFd m_fd;
    bool m_committed = false;
};

}  // namespace

void writeFileAtomically(const std::string& path, const void* data, size_t size,
                         Existing existing) {
    const size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty()) {
        cannotWrite(path, "no file name");
    }
    const ryx::UniqueFd folderFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folderFd) {
        cannotWrite(path, "folder \"" + folder + "\": " + std::strerror(errno));
    }
    const int dirFd = folderFd.get();

    checkTarget(dirFd, name, path, existing);
    {
        Temporary temporary(dirFd, name, path);
        temporary.write(data, size);
        // Checked again just before the rename; rename itself replaces a link
        // that appears meanwhile rather than writing through it.
        checkTarget(dirFd, name, path, existing);
        if (existing == Existing::Refuse) {
            temporary.linkTo(name);  // the temporary goes, its bytes stay under name
        } else {
            temporary.renameTo(name);
        }
    }
    ::fsync(dirFd);
}

}  // namespace ryxdir
