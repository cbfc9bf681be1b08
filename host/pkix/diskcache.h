// Revocation lists kept in a folder that processes share: one file per place
// a list was fetched from (an entry and attribute pair, or a URL), written
// whole or not at all (a temporary file beside it, synced and renamed), so that
// processes writing at once never see a torn file. The folder is kept under a
// size bound by removing the oldest files.
#ifndef PKIXDISKCACHE_H
#define PKIXDISKCACHE_H

#include <ctime>
#include <string>
#include <vector>

#include "pkixinternal.h"

namespace ryxpkix {

class DiskCache {
  public:
    DiskCache(std::string folder, unsigned long long maxBytes);
    // The lists kept for key and when they were fetched; false when none are
    // kept or the file is damaged.
    bool read(const std::string& key, std::vector<ListPtr>& lists, std::time_t& fetched) const;
    void write(const std::string& key, const std::vector<ListPtr>& lists, std::time_t fetched);
    void forget(const std::string& key);

  private:
    std::string path(const std::string& key) const;
    void prune();

    std::string m_folder;
    unsigned long long m_maxBytes;
};

}  // namespace ryxpkix

#endif
