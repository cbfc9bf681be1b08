#include "chain.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <map>
#include <set>

#include "describe.h"

namespace ryxdir {

namespace {

std::string nameKey(const X509_NAME* name) {
    const unsigned char* der = nullptr;
    size_t length = 0;
    if (X509_NAME_get0_der(const_cast<X509_NAME*>(name), &der, &length) != 1) {
        return nameText(name);
    }
    return std::string(reinterpret_cast<const char*>(der), length);
}

bool selfIssued(const X509* cert) {
    return X509_NAME_cmp(X509_get_subject_name(cert), X509_get_issuer_name(cert)) == 0;
}

bool signs(const X509* issuer, const X509* cert) {
    EVP_PKEY* key = X509_get0_pubkey(issuer);
    const bool ok = key != nullptr && X509_verify(const_cast<X509*>(cert), key) == 1;
    ERR_clear_error();
    return ok;
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

class Builder {
  public:
    Builder(const TrustStore& trust, const IssuerLookup& lookup, const ChainLimits& limits)
        : m_trust(trust), m_lookup(lookup), m_limits(limits) {}

    Chain build(Link leaf) {
        m_path.push_back(std::move(leaf));
        Chain chain;
        chain.anchored = extend();
        if (chain.anchored) {
            chain.links = std::move(m_path);
        } else {
            chain.links = std::move(m_best);
        }
        chain.notes = std::move(m_notes);
        return chain;
    }

  private:
    void remember(const std::string& note) {
        if (std::find(m_notes.begin(), m_notes.end(), note) == m_notes.end()) {
            m_notes.push_back(note);
        }
    }

    // The path as it is becomes the best dead end when it is the longest yet.
    void deadEnd() {
        if (m_path.size() > m_best.size()) {
            m_best.clear();
            for (const Link& link : m_path) {
                m_best.push_back(Link{shared(link.cert.get()), link.origin});
            }
        }
    }

    // Ends the path at a trust anchor for its last certificate, if any.
    bool reachAnchor() {
        const X509* cert = m_path.back().cert.get();
        CertStack anchors = m_trust.withSubject(X509_get_issuer_name(cert));
        for (int i = 0; i < sk_X509_num(anchors.get()); ++i) {
            const X509* anchor = sk_X509_value(anchors.get(), i);
            if (!signs(anchor, cert)) {
                continue;
            }
            if (X509_cmp(anchor, cert) != 0) {
                m_path.push_back(Link{shared(anchor), Origin{"trust", m_trust.origin()}});
            }
            return true;
        }
        return false;
    }

    // The directory's candidates for the issuer of cert, cached by name, that
    // name that issuer and verify cert's signature; key identifier matches first.
    std::vector<X509Ptr> candidates(const X509* cert) {
        const X509_NAME* issuer = X509_get_issuer_name(cert);
        const std::string key = nameKey(issuer);
        auto cached = m_cache.find(key);
        if (cached == m_cache.end()) {
            cached = m_cache.emplace(key, m_lookup(issuer)).first;
        }
        const STACK_OF(X509)* found = cached->second.get();
        std::vector<X509Ptr> usable;
        for (int i = 0; i < sk_X509_num(found); ++i) {
            const X509* candidate = sk_X509_value(found, i);
            if (X509_NAME_cmp(X509_get_subject_name(candidate), issuer) != 0) {
                remember("entry \"" + nameText(issuer) + "\" holds a certificate of " +
                         label(candidate) + ", passed over");
            } else if (!signs(candidate, cert)) {
                remember("certificate " + fingerprint(candidate) + " of entry \"" +
                         nameText(issuer) + "\" does not verify the signature of " + label(cert) +
                         ", passed over");
            } else {
                usable.push_back(shared(candidate));
            }
        }
        if (sk_X509_num(found) == 0) {
            remember("no CA certificate for \"" + nameText(issuer) + "\" in the directory");
        }
        std::stable_partition(usable.begin(), usable.end(),
                              [&](const X509Ptr& c) { return keyIdsMatch(c.get(), cert); });
        return usable;
    }

    bool onPath(const X509* candidate) const {
        for (const Link& link : m_path) {
            if (sameCA(link.cert.get(), candidate)) {
                return true;
            }
        }
        return false;
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
        if (m_path.size() >= m_limits.maxLength) {
            remember("paths longer than " + std::to_string(m_limits.maxLength) +
                     " certificates are not followed");
            deadEnd();
            return false;
        }
        const std::string entry = nameText(X509_get_issuer_name(cert));
        for (X509Ptr& candidate : candidates(cert)) {
            if (onPath(candidate.get())) {
                remember("issuer loop: " + label(candidate.get()) + " is already on the path");
                continue;
            }
            if (++m_tried > m_limits.maxCandidates) {
                remember("search stopped after " + std::to_string(m_limits.maxCandidates) +
                         " candidate certificates");
                break;
            }
            m_path.push_back(Link{std::move(candidate), Origin{"entry", entry}});
            if (extend()) {
                return true;
            }
            m_path.pop_back();
        }
        deadEnd();
        return false;
    }

    const TrustStore& m_trust;
    const IssuerLookup& m_lookup;
    const ChainLimits& m_limits;
    std::vector<Link> m_path;
    std::vector<Link> m_best;
    std::vector<std::string> m_notes;
    std::map<std::string, CertStack> m_cache;
    size_t m_tried = 0;
};

}  // namespace

Chain buildChain(X509Ptr leaf, const Origin& leafOrigin, const TrustStore& trust,
                 const IssuerLookup& lookup, const ChainLimits& limits) {
    return Builder(trust, lookup, limits).build(Link{std::move(leaf), leafOrigin});
}

}  // namespace ryxdir
