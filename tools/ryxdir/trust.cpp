#include "trust.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include <cerrno>
#include <cstring>

#include "status.h"

namespace ryxdir {

namespace {

ryx::UniquePtr<X509_STORE> newStore() {
    ryx::UniquePtr<X509_STORE> store(X509_STORE_new());
    if (!store) {
        throw std::bad_alloc();
    }
    return store;
}

}  // namespace

TrustStore TrustStore::fromFile(const std::string& path) {
    const std::string what = "trust file \"" + path + "\"";
    errno = 0;
    const ryx::UniquePtr<BIO> file(BIO_new_file(path.c_str(), "r"));
    BIO* bio = file.get();
    if (bio == nullptr) {
        ERR_clear_error();
        usageError("cannot read " + what + ": " + std::strerror(errno != 0 ? errno : EIO));
    }
    ryx::UniquePtr<X509_STORE> store = newStore();
    int count = 0;
    while (X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
        const ryx::UniquePtr<X509> owned(cert);
        if (X509_STORE_add_cert(store.get(), cert) != 1) {
            ERR_clear_error();  // the same anchor twice
        }
        ++count;
    }
    const unsigned long last = ERR_peek_last_error();
    ERR_clear_error();
    // The loop ends at the end of the text; anything else is damage.
    if (ERR_GET_REASON(last) != PEM_R_NO_START_LINE && last != 0) {
        usageError(what + " holds a damaged certificate");
    }
    if (count == 0) {
        usageError(what + " holds no PEM certificate");
    }
    return TrustStore(std::move(store), path);
}

TrustStore TrustStore::system() {
    ryx::UniquePtr<X509_STORE> store = newStore();
    if (X509_STORE_set_default_paths(store.get()) != 1) {
        ERR_clear_error();
    }
    return TrustStore(std::move(store), "system store");
}

}  // namespace ryxdir
