// A directory entry as the tests compare it: its (name, stored bytes) pairs in
// the entry's order. A text value is stored with its NUL, so text("a") is the
// two bytes 'a' and NUL.
#ifndef ENTRYPAIRS_H
#define ENTRYPAIRS_H

#include <string>
#include <utility>
#include <vector>

#include "ldapentry.h"

namespace entrytest {

typedef std::vector<std::pair<std::string, std::string>> Pairs;

inline Pairs pairsOf(const LDAPEntry& entry) {
    Pairs pairs;
    for (const auto& pair : entry) {
        pairs.emplace_back(pair.first,
                           std::string(reinterpret_cast<const char*>(pair.second->getValue()),
                                       pair.second->getLength()));
    }
    return pairs;
}

inline std::string text(const std::string& s) {
    return s + '\0';
}

}  // namespace entrytest

#endif
