#include "diskcache.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "ryxexception.h"
#include "ryxuniquefd.h"

namespace ryxpkix {

namespace {

const char kMagic[] = "ryx8 revocation lists 1\n";

// Larger files are no cache of ours.
constexpr std::uintmax_t kMaxFile = 1ULL << 32;

std::string hexDigest(const std::string& key) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(key.data(), key.size(), digest, &length, EVP_sha256(), nullptr);
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += digits[digest[i] >> 4];
        hex += digits[digest[i] & 15];
    }
    return hex;
}

}  // namespace

DiskCache::DiskCache(std::string folder, unsigned long long maxBytes)
    : m_folder(std::move(folder)), m_maxBytes(maxBytes) {
    std::error_code error;
    std::filesystem::create_directories(m_folder, error);
    if (!std::filesystem::is_directory(m_folder, error)) {
        throw RYXException(__FILE__, __LINE__, RYX_ERR_INVALID_ARGUMENT,
                           RYXString(("cache folder \"" + m_folder + "\" cannot be made").c_str()));
    }
}

std::string DiskCache::path(const std::string& key) const {
    return m_folder + "/" + hexDigest(key) + ".crls";
}

bool DiskCache::read(const std::string& key, std::vector<ListPtr>& lists,
                     std::time_t& fetched) const {
    std::error_code error;
    const std::string file = path(key);
    const std::uintmax_t size = std::filesystem::file_size(file, error);
    if (error || size > kMaxFile) {
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    std::string magic(sizeof kMagic - 1, '\0');
    long long when = 0;
    size_t count = 0;
    if (!in.read(&magic[0], static_cast<std::streamsize>(magic.size())) || magic != kMagic ||
        !(in >> when >> count) || in.get() != '\n' || count > 1024) {
        return false;
    }
    std::vector<ListPtr> found;
    for (size_t i = 0; i < count; ++i) {
        size_t length = 0;
        if (!(in >> length) || in.get() != '\n' || length > size) {
            return false;
        }
        std::string der(length, '\0');
        if (!in.read(&der[0], static_cast<std::streamsize>(length))) {
            return false;
        }
        auto list = std::make_shared<RYXASNCertificateList>(RYXASNSecurityType(0));
        try {
            list->decodeDER(reinterpret_cast<const unsigned char*>(der.data()), der.size());
        } catch (const RYXException&) {
            return false;
        }
        found.push_back(std::move(list));
    }
    lists = std::move(found);
    fetched = static_cast<std::time_t>(when);
    return true;
}

void DiskCache::write(const std::string& key, const std::vector<ListPtr>& lists,
                      std::time_t fetched) {
    std::ostringstream header;
    header << kMagic << static_cast<long long>(fetched) << ' ' << lists.size() << '\n';
    std::string temporary = m_folder + "/.tmp.XXXXXX";
    ryx::UniqueFd file(::mkstemp(&temporary[0]));
    const int fd = file.get();
    if (!file) {
        return;  // a cache that cannot be written is no failure of the validation
    }
    bool ok = ryx::writeAll(fd, header.str());
    for (const ListPtr& list : lists) {
        const RYXASNCBuffer der = list->getDERView();
        ok = ok && ryx::writeAll(fd, std::to_string(der.getLength()) + "\n") &&
             ryx::writeAll(
                 fd, std::string(reinterpret_cast<const char*>(der.getData()), der.getLength()));
    }
    ok = ok && ::fsync(fd) == 0;
    ok = file.close() && ok;
    if (!ok || std::rename(temporary.c_str(), path(key).c_str()) != 0) {
        ::unlink(temporary.c_str());
        return;
    }
    prune();
}

void DiskCache::forget(const std::string& key) {
    ::unlink(path(key).c_str());
}

// The oldest files go until the folder holds at most the bound.
void DiskCache::prune() {
    namespace fs = std::filesystem;
    std::error_code error;
    struct File {
        fs::path path;
        fs::file_time_type time;
        std::uintmax_t size;
    };
    std::vector<File> files;
    unsigned long long total = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(m_folder, error)) {
        if (entry.path().extension() != ".crls") {
            continue;
        }
        File f{entry.path(), entry.last_write_time(error), entry.file_size(error)};
        if (!error) {
            total += f.size;
            files.push_back(f);
        }
    }
    std::sort(files.begin(), files.end(),
              [](const File& a, const File& b) { return a.time < b.time; });
    for (const File& f : files) {
        if (total <= m_maxBytes) {
            break;
        }
        if (fs::remove(f.path, error)) {
            total -= f.size;
        }
    }
}

}  // namespace ryxpkix
