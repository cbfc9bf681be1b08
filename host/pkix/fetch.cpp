#include "fetch.h"

#include <openssl/err.h>
#include <strings.h>

#include <algorithm>
#include <ctime>

#include "diskcache.h"
#include "ryxexception.h"

namespace ryxpkix {

namespace {

const char* const kCrlAttributes[] = {"certificateRevocationList;binary",
                                      "certificateRevocationList"};
const char* const kArlAttributes[] = {"authorityRevocationList;binary", "authorityRevocationList"};

std::time_t now() {
    return std::time(nullptr);
}

// A value of the directory that the toolkit could not decode: the manager's
// retrieval failed as a whole, and its values are read one by one instead.
bool undecodable(const RYXException& e) {
    return e.getError() == RYX_ERR_ASN_DECODE || e.getError() == RYX_ERR_HEX_STRING;
}

std::vector<ListPtr> listsOf(RYXASNCRLContainer* found) {
    std::shared_ptr<RYXASNCRLContainer> owner(found);
    std::vector<ListPtr> lists;
    for (size_t i = 0; owner && i < owner->size(); ++i) {
        // Each list shares the container that owns it.
        lists.emplace_back(owner, owner->getCRL(i));
    }
    return lists;
}

std::string issuerKey(const char* kind, const X509_NAME* name) {
    return std::string(kind) + '\0' + nameKey(name);
}

}  // namespace

std::time_t nextUpdate(const RYXASNCertificateList& list) {
    const RYXString text = list.getNextUpdate();
    struct tm tm = {};
    // As OpenSSL prints it: "Jan  2 03:04:05 2027 GMT".
    if (text.length() == 0 || strptime(text.c_str(), "%b %d %H:%M:%S %Y GMT", &tm) == nullptr) {
        return 0;
    }
    return timegm(&tm);
}

Fetcher::Fetcher(RYXDIRManager& manager, RYXPKIXValueSource* values, const RYXPKIXOptions& options)
    : m_manager(manager), m_values(values), m_options(options) {
    if (!options.cacheDir.empty()) {
        m_disk = std::make_unique<DiskCache>(options.cacheDir, options.cacheMaxBytes);
    }
}

Fetcher::~Fetcher() = default;

std::vector<X509Ptr> Fetcher::fetchCertificates(const X509_NAME* subject,
                                                std::vector<std::string>& notes) {
    const std::string where = "entry " + nameText(subject);
    std::vector<X509Ptr> certs;
    try {
        std::unique_ptr<RYXASNCertificateContainer> found(
            m_manager.getCACertificates(RYXASNx500Name(subject)));
        for (size_t i = 0; found && i < found->size(); ++i) {
            certs.push_back(shared(cached(found->getCertificate(i)->native())));
        }
    } catch (const RYXException& e) {
        if (!undecodable(e)) {
            throw;
        }
        if (m_values == nullptr) {
            notes.push_back(where + ": a value of cACertificate does not decode (" +
                            e.getMessage().c_str() + "), the entry's certificates passed over");
        } else {
            certs = decodeCertificates(
                m_values->entryValues(nameText(subject), {"cACertificate;binary", "cACertificate"}),
                where, notes);
        }
    }
    return certs;
}

std::vector<Candidate> Fetcher::caCertificates(const X509_NAME* subject,
                                               std::vector<std::string>& notes) {
    const std::string key = issuerKey("ca", subject);
    std::lock_guard<std::mutex> lock(m_mutex);
    auto kept = m_certificates.find(key);
    const std::time_t t = now();
    if (kept == m_certificates.end() || t - kept->second.fetched >= m_options.certificateMaxAge) {
        try {
            KeptCertificates fresh;
            fresh.fetched = t;
            fresh.certs = fetchCertificates(subject, fresh.notes);
            kept = m_certificates.insert_or_assign(key, std::move(fresh)).first;
        } catch (const RYXException& e) {
            if (kept == m_certificates.end()) {
                throw;
            }
            notes.push_back("entry " + nameText(subject) + ": " + e.getMessage().c_str() +
                            "; the certificates fetched before are used");
        }
    }
    notes.insert(notes.end(), kept->second.notes.begin(), kept->second.notes.end());
    std::vector<Candidate> candidates;
    for (const X509Ptr& cert : kept->second.certs) {
        candidates.push_back(
            Candidate{shared(cert.get()), RYXPKIXOrigin{"entry", nameText(subject)}});
    }
    return candidates;
}

Fetcher::KeptLists Fetcher::keep(std::vector<ListPtr> lists, std::time_t t) const {
    KeptLists kept;
    kept.fetched = t;
    kept.until = t + m_options.crlMaxAge;
    for (const ListPtr& list : lists) {
        const std::time_t next = nextUpdate(*list);
        if (next != 0) {
            kept.until = std::min(kept.until, next);
        }
    }
    kept.lists = std::move(lists);
    return kept;
}

std::vector<ListPtr> Fetcher::use(const KeptLists& kept, std::vector<std::string>& notes) {
    notes.insert(notes.end(), kept.notes.begin(), kept.notes.end());
    return kept.lists;
}

std::vector<ListPtr> Fetcher::lists(const std::string& key, const std::string& where,
                                    const X509* signer, std::vector<std::string>& notes,
                                    const ListFetch& fetch) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::time_t t = now();
    auto kept = m_lists.find(key);
    if (kept != m_lists.end() && t < kept->second.until) {
        return use(kept->second, notes);
    }
    if (m_disk && signer != nullptr) {
        std::vector<ListPtr> stored;
        std::time_t fetched = 0;
        if (m_disk->read(key, stored, fetched)) {
            KeptLists fromDisk = keep(stored, fetched);
            const bool good = t < fromDisk.until &&
                              std::all_of(stored.begin(), stored.end(), [&](const ListPtr& l) {
                                  return listSignedBy(*l, X509_get0_pubkey(signer));
                              });
            if (good) {
                return use(m_lists.insert_or_assign(key, std::move(fromDisk)).first->second, notes);
            }
            m_disk->forget(key);
        }
    }
    std::vector<ListPtr> found;
    std::vector<std::string> fetchNotes;
    try {
        found = fetch(fetchNotes);
    } catch (const RYXException& e) {
        // A copy that is still before its next update serves while the directory fails.
        if (kept != m_lists.end() && std::all_of(kept->second.lists.begin(),
                                                 kept->second.lists.end(), [&](const ListPtr& l) {
                                                     const std::time_t next = nextUpdate(*l);
                                                     return next == 0 || t < next;
                                                 })) {
            notes.push_back(where + ": " + e.getMessage().c_str() +
                            "; the lists fetched before are used");
            return use(kept->second, notes);
        }
        throw;
    }
    if (m_disk && !found.empty()) {
        m_disk->write(key, found, t);
    }
    KeptLists fresh = keep(std::move(found), t);
    fresh.notes = std::move(fetchNotes);
    return use(m_lists.insert_or_assign(key, std::move(fresh)).first->second, notes);
}

std::vector<ListPtr> Fetcher::entryLists(const X509_NAME* issuer, bool arl, const X509* signer,
                                         std::vector<std::string>& notes) {
    const std::string dn = nameText(issuer);
    const std::string where = "entry " + dn;
    return lists(
        issuerKey(arl ? "arl" : "crl", issuer), where, signer, notes,
        [&](std::vector<std::string>& n) {
            const RYXASNx500Name name(issuer);
            try {
                return listsOf(arl ? m_manager.getARLs(name) : m_manager.getCRLs(name));
            } catch (const RYXException& e) {
                if (!undecodable(e)) {
                    throw;
                }
                if (m_values == nullptr) {
                    n.push_back(where + ": a revocation list does not decode (" +
                                e.getMessage().c_str() + "), the entry's lists passed over");
                    return std::vector<ListPtr>();
                }
                std::vector<std::string> attributes;
                if (arl) {
                    attributes.assign(std::begin(kArlAttributes), std::end(kArlAttributes));
                }
                attributes.insert(attributes.end(), std::begin(kCrlAttributes),
                                  std::end(kCrlAttributes));
                return decodeLists(m_values->entryValues(dn, attributes), where, n);
            }
        });
}

std::vector<ListPtr> Fetcher::fromUrl(const std::string& url, std::vector<std::string>& notes) {
    const std::string where = "url " + url;
    try {
        return listsOf(m_manager.getViaURI(RYXString(url.c_str())));
    } catch (const RYXException& e) {
        if (!undecodable(e)) {
            throw;
        }
        if (m_values == nullptr) {
            notes.push_back(where + ": a value does not decode (" + e.getMessage().c_str() +
                            "), passed over");
            return std::vector<ListPtr>();
        }
        return decodeLists(m_values->urlValues(url), where, notes);
    }
}

std::vector<ListPtr> Fetcher::urlLists(const std::string& url, const X509* signer,
                                       std::vector<std::string>& notes) {
    return lists(std::string("url") + '\0' + url, "url " + url, signer, notes,
                 [&](std::vector<std::string>& n) {
                     std::vector<ListPtr> found = fromUrl(url, n);
                     // Directories answer a certificate attribute either under
                     // NAME;binary or under NAME: the URL's author may have
                     // guessed the other one.
                     const std::string other = otherDescription(url);
                     if (found.empty() && !other.empty()) {
                         found = fromUrl(other, n);
                         if (!found.empty()) {
                             n.push_back("url " + url + " returned no list; found at " + other);
                         }
                     }
                     if (found.empty()) {
                         n.push_back("url " + url + " returned no revocation list" +
                                     (other.empty() ? "" : " (nor did " + other + ")"));
                     }
                     return found;
                 });
}

}  // namespace ryxpkix
