// Certificate chains built upward from a certificate: issuers from the
// directory (and the untrusted certificates handed in), tried in turn until one
// leads to a trust anchor.
#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <map>

#include "pkixinternal.h"

namespace ryxpkix {

namespace {

bool selfIssued(const X509* cert) {
    return X509_NAME_cmp(X509_get_subject_name(cert), X509_get_issuer_name(cert)) == 0;
}

// The certificate's authority key identifier matches issuer's subject key
// identifier.
bool keyIdsMatch(const X509* issuer, const X509* cert) {
    const ASN1_OCTET_STRING* aki = X509_get0_authority_key_id(const_cast<X509*>(cert));
    const ASN1_OCTET_STRING* ski = X509_get0_subject_key_id(const_cast<X509*>(issuer));
    return aki != nullptr && ski != nullptr && ASN1_OCTET_STRING_cmp(aki, ski) == 0;
}

bool sameCA(const X509* a, const X509* b) {
    return X509_NAME_cmp(X509_get_subject_name(a), X509_get_subject_name(b)) == 0 &&
           EVP_PKEY_eq(X509_get0_pubkey(a), X509_get0_pubkey(b)) == 1;
}

std::string label(const X509* cert) {
    return "\"" + nameText(X509_get_subject_name(cert)) + "\"";
}

// The anchors whose subject is name.
std::vector<X509Ptr> anchorsNamed(X509_STORE* store, const X509_NAME* name) {
    std::vector<X509Ptr> found;
    ryx::UniquePtr<X509_STORE_CTX> ctx(X509_STORE_CTX_new());
    if (!ctx || X509_STORE_CTX_init(ctx.get(), store, nullptr, nullptr) != 1) {
        throw std::bad_alloc();
    }
    STACK_OF(X509)* certs = X509_STORE_CTX_get1_certs(ctx.get(), const_cast<X509_NAME*>(name));
    ERR_clear_error();
    const ryx::UniquePtr<STACK_OF(X509)> owner(certs);
    while (sk_X509_num(certs) > 0) {
        found.emplace_back(sk_X509_shift(certs));
    }
    return found;
}

class Builder {
  public:
    Builder(X509_STORE* anchors, const std::string& anchorOrigin, const IssuerLookup& lookup,
            const RYXPKIXOptions& options, SignatureMemo& memo)
        : m_anchors(anchors),
          m_anchorOrigin(anchorOrigin),
          m_lookup(lookup),
          m_options(options),
          m_memo(memo) {}

    Chain build(RYXPKIXLink leaf) {
        m_path.push_back(std::move(leaf));
        m_verifies.push_back(true);
        Chain chain;
        chain.anchored = extend();
        if (chain.anchored) {
            auto bad = std::find(m_verifies.begin(), m_verifies.end(), false);
            if (bad != m_verifies.end()) {
                chain.badSignature = static_cast<int>(bad - m_verifies.begin()) - 1;
            }
        }
        chain.links = chain.anchored ? std::move(m_path) : std::move(m_best);
        chain.notes = std::move(m_notes);
        return chain;
    }

  private:
    // The leaf is new in every validation; the links above it are not.
    bool verifies(const X509* issuer, const X509* cert) {
        return m_path.size() == 1 ? signs(issuer, cert) : m_memo.signs(issuer, cert);
    }

    void remember(const std::string& note) {
        if (std::find(m_notes.begin(), m_notes.end(), note) == m_notes.end()) {
            m_notes.push_back(note);
        }
    }

    // The path as it is becomes the best dead end when it is the longest yet.
    void deadEnd() {
        if (m_path.size() > m_best.size()) {
            m_best.clear();
            for (const RYXPKIXLink& link : m_path) {
                m_best.push_back(RYXPKIXLink{shared(link.cert.get()), link.origin});
            }
        }
    }

    // Ends the path at a trust anchor for its last certificate, if any.
    bool reachAnchor() {
        const X509* cert = m_path.back().cert.get();
        for (X509Ptr& anchor : anchorsNamed(m_anchors, X509_get_issuer_name(cert))) {
            if (!verifies(anchor.get(), cert)) {
                continue;
            }
            if (X509_cmp(anchor.get(), cert) != 0) {
                m_path.push_back(RYXPKIXLink{std::move(anchor), {"trust", m_anchorOrigin}});
            }
            return true;
        }
        return false;
    }

    // The candidates for the issuer of cert that carry its name and verify its
    // signature, key identifier matches first. When none verifies, those that
    // carry the name are taken all the same, so that OpenSSL reports the bad
    // signature instead of a missing issuer.
    std::vector<Candidate> candidates(const X509* cert) {
        const X509_NAME* issuer = X509_get_issuer_name(cert);
        const std::string key = nameKey(issuer);
        auto cached = m_cache.find(key);
        if (cached == m_cache.end()) {
            std::vector<std::string> notes;
            cached = m_cache.emplace(key, m_lookup(issuer, notes)).first;
            for (const std::string& n : notes) {
                remember(n);
            }
        }
        std::vector<Candidate> verifying, named;
        for (const Candidate& c : cached->second) {
            const X509* candidate = c.cert.get();
            if (X509_NAME_cmp(X509_get_subject_name(candidate), issuer) != 0) {
                remember(c.origin.text() + " holds a certificate of " + label(candidate) +
                         ", passed over");
            } else if (!verifies(candidate, cert)) {
                remember("certificate " + fingerprint(candidate) + " of " + c.origin.text() +
                         " does not verify the signature of " + label(cert) + ", passed over");
                named.push_back(Candidate{shared(candidate), c.origin, false});
            } else {
                verifying.push_back(Candidate{shared(candidate), c.origin});
            }
        }
        if (cached->second.empty()) {
            remember("no CA certificate for \"" + nameText(issuer) + "\" in the directory");
        }
        std::vector<Candidate>& usable = verifying.empty() ? named : verifying;
        std::stable_partition(usable.begin(), usable.end(),
                              [&](const Candidate& c) { return keyIdsMatch(c.cert.get(), cert); });
        return std::move(usable);
    }

    bool onPath(const X509* candidate) const {
        return std::any_of(m_path.begin(), m_path.end(), [&](const RYXPKIXLink& link) {
            return sameCA(link.cert.get(), candidate);
        });
    }

    // Depth-first: true once the path ends at an anchor.
    bool extend() {
        if (reachAnchor()) {
            return true;
        }
        const X509* cert = m_path.back().cert.get();
        if (selfIssued(cert) && signs(cert, cert)) {
            remember(label(cert) + " is self-signed but not a trust anchor");
            deadEnd();
            return false;
        }
        if (m_path.size() >= m_options.maxPathLength) {
            remember("paths longer than " + std::to_string(m_options.maxPathLength) +
                     " certificates are not followed");
            deadEnd();
            return false;
        }
        for (Candidate& candidate : candidates(cert)) {
            if (onPath(candidate.cert.get())) {
                remember("issuer loop: " + label(candidate.cert.get()) + " is already on the path");
                continue;
            }
            if (++m_tried > m_options.maxCandidates) {
                remember("search stopped after " + std::to_string(m_options.maxCandidates) +
                         " candidate certificates");
                break;
            }
            m_path.push_back(RYXPKIXLink{std::move(candidate.cert), candidate.origin});
            m_verifies.push_back(candidate.verifies);
            if (extend()) {
                return true;
            }
            m_path.pop_back();
            m_verifies.pop_back();
        }
        deadEnd();
        return false;
    }

    X509_STORE* m_anchors;
    const std::string& m_anchorOrigin;
    const IssuerLookup& m_lookup;
    const RYXPKIXOptions& m_options;
    SignatureMemo& m_memo;
    std::vector<RYXPKIXLink> m_path;
    std::vector<bool> m_verifies;  // per link of the path: it verifies the one below
    std::vector<RYXPKIXLink> m_best;
    std::vector<std::string> m_notes;
    std::map<std::string, std::vector<Candidate>> m_cache;
    size_t m_tried = 0;
};

}  // namespace

bool SignatureMemo::signs(const X509* issuer, const X509* cert) {
    unsigned char a[EVP_MAX_MD_SIZE], b[EVP_MAX_MD_SIZE];
    unsigned int aLength = 0, bLength = 0;
    if (X509_digest(issuer, EVP_sha256(), a, &aLength) != 1 ||
        X509_digest(cert, EVP_sha256(), b, &bLength) != 1) {
        return ryxpkix::signs(issuer, cert);
    }
    const std::string key = std::string(reinterpret_cast<char*>(a), aLength) +
                            std::string(reinterpret_cast<char*>(b), bLength);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto known = m_known.find(key);
        if (known != m_known.end()) {
            return known->second;
        }
    }
    const bool ok = ryxpkix::signs(issuer, cert);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_known.size() >= 4096) {
        m_known.clear();
    }
    m_known.emplace(key, ok);
    return ok;
}

bool signs(const X509* issuer, const X509* cert) {
    EVP_PKEY* key = X509_get0_pubkey(issuer);
    const bool ok = key != nullptr && X509_verify(const_cast<X509*>(cert), key) == 1;
    ERR_clear_error();
    return ok;
}

Chain buildChain(X509Ptr leaf, const RYXPKIXOrigin& origin, X509_STORE* anchors,
                 const std::string& anchorOrigin, const IssuerLookup& lookup,
                 const RYXPKIXOptions& options, SignatureMemo& memo) {
    return Builder(anchors, anchorOrigin, lookup, options, memo)
        .build(RYXPKIXLink{std::move(leaf), origin});
}

}  // namespace ryxpkix
