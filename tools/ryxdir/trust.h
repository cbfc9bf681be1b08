// Trust anchors: a PEM bundle named with --trust, or the system's store.
#ifndef RYXDIR_TRUST_H
#define RYXDIR_TRUST_H

#include <string>

#include "ryxopensslptr.h"

namespace ryxdir {

class TrustStore {
  public:
    // Fails with a usage failure when the file cannot be read or holds no
    // PEM certificate.
    static TrustStore fromFile(const std::string& path);
    // OpenSSL's default locations (SSL_CERT_FILE and SSL_CERT_DIR override).
    static TrustStore system();

    X509_STORE* store() const { return m_store.get(); }
    // Where the anchors come from: the file, or "system store".
    const std::string& origin() const { return m_origin; }

  private:
    TrustStore(ryx::UniquePtr<X509_STORE> store, std::string origin)
        : m_store(std::move(store)), m_origin(std::move(origin)) {}

    ryx::UniquePtr<X509_STORE> m_store;
    std::string m_origin;
};

}  // namespace ryxdir

#endif
