// The directory as the validator asks it: the manager's retrievals with the
// values that do not decode passed over, kept while fresh in memory and, for
// lists, in a folder that processes share.
#ifndef PKIXFETCH_H
#define PKIXFETCH_H

#include <map>
#include <mutex>

#include "pkixinternal.h"

namespace ryxpkix {

class DiskCache;

class Fetcher {
  public:
    Fetcher(RYXDIRManager& manager, RYXPKIXValueSource* values, const RYXPKIXOptions& options);
    ~Fetcher();

    // The CA certificates of the entry named subject.
    std::vector<Candidate> caCertificates(const X509_NAME* subject,
                                          std::vector<std::string>& notes);
    // The lists of an issuer's entry (with arl: ARLs, then CRLs) or at a URL.
    // signer is the issuer's certificate: lists read from the shared folder
    // must verify with its key.
    std::vector<ListPtr> entryLists(const X509_NAME* issuer, bool arl, const X509* signer,
                                    std::vector<std::string>& notes);
    std::vector<ListPtr> urlLists(const std::string& url, const X509* signer,
                                  std::vector<std::string>& notes);

  private:
    struct KeptLists {
        std::time_t fetched = 0;
        std::time_t until = 0;  // fresh before this
        std::vector<ListPtr> lists;
        std::vector<std::string> notes;  // values passed over, said again on each use
    };
    struct KeptCertificates {
        std::time_t fetched = 0;
        std::vector<X509Ptr> certs;
        std::vector<std::string> notes;
    };

    using ListFetch = std::function<std::vector<ListPtr>(std::vector<std::string>& notes)>;
    std::vector<ListPtr> lists(const std::string& key, const std::string& where, const X509* signer,
                               std::vector<std::string>& notes, const ListFetch& fetch);
    std::vector<X509Ptr> fetchCertificates(const X509_NAME* subject,
                                           std::vector<std::string>& notes);
    std::vector<ListPtr> fromUrl(const std::string& url, std::vector<std::string>& notes);
    KeptLists keep(std::vector<ListPtr> lists, std::time_t now) const;
    // The kept lists, their notes added to notes.
    static std::vector<ListPtr> use(const KeptLists& kept, std::vector<std::string>& notes);

    RYXDIRManager& m_manager;
    RYXPKIXValueSource* m_values;
    const RYXPKIXOptions& m_options;
    std::unique_ptr<DiskCache> m_disk;
    std::mutex m_mutex;  // one caller of the directory at a time, and the maps
    std::map<std::string, KeptCertificates> m_certificates;
    std::map<std::string, KeptLists> m_lists;
};

// The time a list's next update is due (0: it names none).
std::time_t nextUpdate(const RYXASNCertificateList& list);

}  // namespace ryxpkix

#endif
