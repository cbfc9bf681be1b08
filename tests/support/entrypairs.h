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

// An entry as a cases file writes it: "name: value" pairs joined by " | ", the
// value a text, or its bytes as they are after "name:: ".
inline Pairs pairsOfField(const std::string& field) {
    Pairs pairs;
    for (size_t at = 0, bar = 0; !field.empty() && bar != std::string::npos; at = bar + 3) {
        bar = field.find(" | ", at);
        const std::string pair = field.substr(at, bar - at);
        const size_t colon = pair.find(':');
        const bool bytes = pair.compare(colon, 3, ":: ") == 0;
        const std::string value = pair.substr(colon + (bytes ? 3 : pair[colon + 1] == ' ' ? 2 : 1));
        pairs.emplace_back(pair.substr(0, colon), bytes ? value : text(value));
    }
    return pairs;
}

// Adds the pairs of a cases file's entry, each with its length.
inline void addPairs(LDAPEntry& entry, const std::string& field) {
    for (const auto& [name, value] : pairsOfField(field))
        entry.addAttribute(name.c_str(), value.data(), static_cast<unsigned int>(value.size()));
}

}  // namespace entrytest

#endif
