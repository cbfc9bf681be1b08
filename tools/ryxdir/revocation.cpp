#include "revocation.h"

#include <openssl/x509v3.h>
#include <strings.h>

#include <algorithm>
#include <set>

#include "describe.h"
#include "status.h"

namespace ryxdir {

namespace {

class Gatherer {
  public:
    explicit Gatherer(Directory& directory) : m_directory(directory) {}

    void fromEntry(const X509* cert) {
        const bool ca = X509_check_ca(const_cast<X509*>(cert)) != 0;
        const X509_NAME* issuer = X509_get_issuer_name(cert);
        const std::string entry = nameText(issuer);
        if (!m_asked.insert((ca ? "arl " : "crl ") + entry).second) {
            return;
        }
        const RYXASNx500Name name(issuer);
        add(ca ? m_directory.arls(name) : m_directory.crls(name), Origin{"entry", entry});
    }

    void fromDistributionPoints(const X509* cert) {
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
                add(m_directory.viaUri(uri), Origin{"url", uri});
            } catch (const Failure& f) {
                m_result.notes.push_back("url " + uri + ": " + f.message);
            }
        }
    }

    Revocation take() { return std::move(m_result); }

  private:
    void add(CrlStack lists, const Origin& origin) {
        for (int i = 0; i < sk_X509_CRL_num(lists.get()); ++i) {
            X509_CRL* crl = sk_X509_CRL_value(lists.get(), i);
            auto same = std::find_if(
                m_result.crls.begin(), m_result.crls.end(),
                [&](const CrlRecord& r) { return X509_CRL_match(r.crl.get(), crl) == 0; });
            if (same == m_result.crls.end()) {
                m_result.crls.push_back(CrlRecord{shared(crl), {origin}});
            } else if (std::none_of(same->origins.begin(), same->origins.end(),
                                    [&](const Origin& o) { return o.text() == origin.text(); })) {
                same->origins.push_back(origin);
            }
        }
    }

    Directory& m_directory;
    Revocation m_result;
    std::set<std::string> m_asked;
};

}  // namespace

std::vector<std::string> distributionPoints(const X509* cert) {
    std::vector<std::string> uris;
    auto* points = static_cast<CRL_DIST_POINTS*>(
        X509_get_ext_d2i(cert, NID_crl_distribution_points, nullptr, nullptr));
    for (int i = 0; i < sk_DIST_POINT_num(points); ++i) {
        const DIST_POINT* point = sk_DIST_POINT_value(points, i);
        if (point->distpoint == nullptr || point->distpoint->type != 0) {
            continue;  // a name relative to the CRL issuer names no place
        }
        const GENERAL_NAMES* names = point->distpoint->name.fullname;
        for (int k = 0; k < sk_GENERAL_NAME_num(names); ++k) {
            const GENERAL_NAME* name = sk_GENERAL_NAME_value(names, k);
            if (name->type == GEN_URI) {
                const ASN1_IA5STRING* uri = name->d.uniformResourceIdentifier;
                uris.emplace_back(reinterpret_cast<const char*>(ASN1_STRING_get0_data(uri)),
                                  static_cast<size_t>(ASN1_STRING_length(uri)));
            }
        }
    }
    CRL_DIST_POINTS_free(points);
    return uris;
}

Revocation gatherRevocation(const std::vector<Link>& chain, Directory& directory) {
    Gatherer gatherer(directory);
    for (const Link& link : chain) {
        gatherer.fromEntry(link.cert.get());
        gatherer.fromDistributionPoints(link.cert.get());
    }
    return gatherer.take();
}

}  // namespace ryxdir
