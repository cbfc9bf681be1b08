// The validator: a chain from the directory, the lists of every issuer's entry
// and distribution point, and OpenSSL's decision.
#include <openssl/err.h>
#include <openssl/x509v3.h>
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>

#include "decide.h"
#include "fetch.h"
#include "ryxexception.h"

using namespace ryxpkix;

struct RYXPKIXValidator::Impl {
    Impl(RYXDIRManager& manager, X509_STORE* store, const std::string& origin,
         const RYXPKIXOptions& opts, RYXPKIXValueSource* values)
        : anchors(shareStore(store)),
          anchorOrigin(origin),
          options(opts),
          fetcher(manager, values, options) {
        useListChecks(store);
        STACK_OF(X509_OBJECT)* objects = X509_STORE_get0_objects(store);
        for (int i = 0; i < sk_X509_OBJECT_num(objects); ++i) {
            if (const X509* anchor = X509_OBJECT_get0_X509(sk_X509_OBJECT_value(objects, i))) {
                cached(anchor);
            }
        }
    }

    // A reference of the validator's own, taken before anything can fail.
    static X509_STORE* shareStore(X509_STORE* store) {
        X509_STORE_up_ref(store);
        return store;
    }

    ryx::UniquePtr<X509_STORE> anchors;
    std::string anchorOrigin;
    RYXPKIXOptions options;
    Fetcher fetcher;
    ListSignatures signatures;
    SignatureMemo links;
    std::mutex callerCertificates;
};

namespace {

bool sameList(const RYXASNCertificateList& a, const RYXASNCertificateList& b) {
    const RYXASNCBuffer x = a.getDERView(), y = b.getDERView();
    return x.getLength() == y.getLength() &&
           std::memcmp(x.getData(), y.getData(), x.getLength()) == 0;
}

class Gatherer {
  public:
    Gatherer(Fetcher& fetcher, RYXPKIXResult& result) : m_fetcher(fetcher), m_result(result) {}

    void gather() {
        for (size_t i = 0; i < m_result.chain.size(); ++i) {
            const X509* cert = m_result.chain[i].cert.get();
            const X509* signer =
                m_result.chain[std::min(i + 1, m_result.chain.size() - 1)].cert.get();
            fromEntry(cert, signer);
            fromDistributionPoints(cert, signer);
        }
    }

  private:
    void fromEntry(const X509* cert, const X509* signer) {
        const bool ca = X509_check_ca(const_cast<X509*>(cert)) != 0;
        const X509_NAME* issuer = X509_get_issuer_name(cert);
        if (!m_asked.insert((ca ? "arl " : "crl ") + nameKey(issuer)).second) {
            return;
        }
        add(m_fetcher.entryLists(issuer, ca, signer, m_result.notes),
            RYXPKIXOrigin{"entry", nameText(issuer)});
    }

    void fromDistributionPoints(const X509* cert, const X509* signer) {
        for (const std::string& uri : distributionPoints(cert)) {
            if (strncasecmp(uri.c_str(), "ldap://", 7) != 0) {
                if (std::find(m_result.notFetched.begin(), m_result.notFetched.end(), uri) ==
                    m_result.notFetched.end()) {
                    m_result.notFetched.push_back(uri);
                }
                continue;
            }
            if (!m_asked.insert("url " + uri).second) {
                continue;
            }
            try {
                add(m_fetcher.urlLists(uri, signer, m_result.notes), RYXPKIXOrigin{"url", uri});
            } catch (const RYXException& e) {
                m_result.notes.push_back("url " + uri + ": error " + std::to_string(e.getError()) +
                                         ": " + e.getMessage().c_str());
            }
        }
    }

    void add(const std::vector<ListPtr>& lists, const RYXPKIXOrigin& origin) {
        for (const ListPtr& list : lists) {
            auto same =
                std::find_if(m_result.crls.begin(), m_result.crls.end(),
                             [&](const RYXPKIXList& r) { return sameList(*r.list, *list); });
            if (same == m_result.crls.end()) {
                m_result.crls.push_back(RYXPKIXList{list, {origin}, false});
            } else if (std::none_of(
                           same->origins.begin(), same->origins.end(),
                           [&](const RYXPKIXOrigin& o) { return o.text() == origin.text(); })) {
                same->origins.push_back(origin);
            }
        }
    }

    Fetcher& m_fetcher;
    RYXPKIXResult& m_result;
    std::set<std::string> m_asked;
};

// Lists past their next update at the validation time are marked and named:
// their entries still count, but they no longer say a certificate is good.
void markStale(RYXPKIXResult& result, const RYXPKIXOptions& options) {
    const std::time_t at = options.atGiven ? options.at : std::time(nullptr);
    for (RYXPKIXList& list : result.crls) {
        const std::time_t next = nextUpdate(*list.list);
        if (next != 0 && next < at) {
            list.stale = true;
            result.warnings.push_back("the list of \"" + nameText(list.list->getIssuer().native()) +
                                      "\" from " + list.origins.front().text() +
                                      " is past its next update (" +
                                      list.list->getNextUpdate().c_str() + ")");
        }
    }
}

// A chain that reached an anchor only through an issuer certificate whose key
// does not verify the signature below it (the issuer's entry held no other):
// OpenSSL, which matches key identifiers, calls it no path; it is a bad signature.
void badSignature(RYXPKIXResult& result, int depth) {
    if (depth < 0 || result.verdict == RYXPKIXVerdict::Invalid) {
        return;
    }
    const int code = X509_V_ERR_CERT_SIGNATURE_FAILURE;
    result.decisive = RYXPKIXError{code, depth, X509_verify_cert_error_string(code)};
    result.errors.insert(result.errors.begin(), result.decisive);
    result.verdict = RYXPKIXVerdict::Invalid;
}

}  // namespace

RYXPKIXValueSource::~RYXPKIXValueSource() = default;

RYXPKIXValidator::RYXPKIXValidator(RYXDIRManager& manager, X509_STORE* anchors,
                                   const std::string& anchorOrigin, const RYXPKIXOptions& options,
                                   RYXPKIXValueSource* values)
    : m_impl(std::make_unique<Impl>(manager, anchors, anchorOrigin, options, values)) {
    for (const std::string& oid : options.policies) {
        ryx::UniquePtr<ASN1_OBJECT> object(OBJ_txt2obj(oid.c_str(), 1));
        ERR_clear_error();
        if (!object) {
            throw RYXException(__FILE__, __LINE__, RYX_ERR_INVALID_ARGUMENT,
                               RYXString(("not a policy OID: \"" + oid + "\"").c_str()));
        }
    }
}

RYXPKIXValidator::~RYXPKIXValidator() = default;

RYXPKIXResult RYXPKIXValidator::validate(X509* cert, STACK_OF(X509) * extra,
                                         const RYXPKIXOrigin& origin) {
    Impl& impl = *m_impl;
    {
        // The caller may hand the same certificates to several threads at
        // once: their caches are filled under a lock of ours, so that every
        // thread's later reads come after the one fill (OpenSSL's own check of
        // a filled cache takes no lock).
        std::lock_guard<std::mutex> lock(impl.callerCertificates);
        cached(cert);
        for (int i = 0; i < sk_X509_num(extra); ++i) {
            cached(sk_X509_value(extra, i));
        }
    }
    const IssuerLookup lookup = [&](const X509_NAME* issuer, std::vector<std::string>& notes) {
        std::vector<Candidate> found;
        for (int i = 0; i < sk_X509_num(extra); ++i) {
            const X509* c = sk_X509_value(extra, i);
            if (X509_NAME_cmp(X509_get_subject_name(c), issuer) == 0) {
                found.push_back(Candidate{shared(c), RYXPKIXOrigin{"extra", origin.where}});
            }
        }
        std::vector<Candidate> fetched = impl.fetcher.caCertificates(issuer, notes);
        std::move(fetched.begin(), fetched.end(), std::back_inserter(found));
        return found;
    };
    Chain chain = buildChain(shared(cert), origin, impl.anchors.get(), impl.anchorOrigin, lookup,
                             impl.options, impl.links);
    RYXPKIXResult result;
    result.chain = std::move(chain.links);
    result.anchored = chain.anchored;
    result.notes = std::move(chain.notes);
    Gatherer(impl.fetcher, result).gather();
    markStale(result, impl.options);
    decide(result, impl.anchors.get(), impl.options, impl.signatures);
    badSignature(result, chain.badSignature);
    return result;
}

const char* RYXPKIXValidator::verdictText(RYXPKIXVerdict verdict) {
    switch (verdict) {
        case RYXPKIXVerdict::Valid:
            return "valid";
        case RYXPKIXVerdict::NoPath:
            return "no path to a trust anchor";
        case RYXPKIXVerdict::RevocationUnavailable:
            return "revocation status unavailable";
        default:
            return "invalid";
    }
}

const char* RYXPKIXValidator::verdictWord(RYXPKIXVerdict verdict) {
    switch (verdict) {
        case RYXPKIXVerdict::Valid:
            return "valid";
        case RYXPKIXVerdict::NoPath:
            return "no-path";
        case RYXPKIXVerdict::RevocationUnavailable:
            return "revocation-unavailable";
        default:
            return "invalid";
    }
}

std::string RYXPKIXValidator::nameText(const X509_NAME* name) {
    return ryxpkix::nameText(name);
}

std::string RYXPKIXValidator::fingerprint(const X509* cert) {
    return ryxpkix::fingerprint(cert);
}

std::string RYXPKIXValidator::isoTime(const ASN1_TIME* time) {
    return ryxpkix::isoTime(time);
}
