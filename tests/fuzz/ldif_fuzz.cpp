// libFuzzer target for the LDIF-like reader. Every input must either give a
// result set equal to the one a small independent model of the line format
// predicts, or fail with the malformed-input error; nothing may leak or crash.
#include <strings.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "ldapsearchresults.h"
#include "ryxexception.h"

namespace {

typedef std::vector<std::pair<std::string, std::string>> Pairs;

// What the reader should make of the text: false when it is malformed.
bool model(const std::string& text, std::vector<Pairs>& entries) {
    const size_t room = 4000;
    size_t pos = 0;
    bool atEnd = false;
    // Reads one line as text up to its first NUL; false at the end of the input.
    auto readLine = [&](std::string& line, bool& malformed) {
        const size_t newline = text.find('\n', pos);
        const size_t length = (newline == std::string::npos ? text.size() : newline) - pos;
        if (length >= room) {
            malformed = true;
            return false;
        }
        line = std::string(text.c_str() + pos);
        line = line.substr(0, std::min(line.size(), length));
        if (newline == std::string::npos) {
            atEnd = true;
            return false;
        }
        pos = newline + 1;
        return true;
    };
    while (!atEnd) {
        Pairs entry;
        std::string line;
        bool malformed = false;
        while (readLine(line, malformed) && !line.empty()) {
            const size_t colon = line.find(':');
            if (colon == std::string::npos) {
                return false;
            }
            size_t value = colon + 1;
            while (value < line.size() && std::strchr(" \t\v\f\r", line[value]) != nullptr) {
                ++value;
            }
            entry.emplace_back(line.substr(0, colon), line.substr(value) + '\0');
        }
        if (malformed) {
            return false;
        }
        // The entry keeps its names in case-insensitive order, values of one
        // name in line order.
        std::stable_sort(entry.begin(), entry.end(), [](const auto& a, const auto& b) {
            return strcasecmp(a.first.c_str(), b.first.c_str()) < 0;
        });
        entries.push_back(entry);
    }
    return true;
}

Pairs pairsOf(const LDAPEntry& entry) {
    Pairs pairs;
    for (LDAPEntry::const_iterator it = entry.begin(); it != entry.end(); ++it) {
        pairs.emplace_back(it->first,
                           std::string(reinterpret_cast<const char*>(it->second->getValue()),
                                       it->second->getLength()));
    }
    return pairs;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<Pairs> expected;
    const bool wellFormed = model(text, expected);

    std::istringstream in(text);
    try {
        LDAPSearchResults results(in);
        if (!wellFormed || results.size() != expected.size()) {
            __builtin_trap();
        }
        LDAPEntry* first = results.next();
        LDAPEntry* entry = first;
        for (size_t i = 0; i < expected.size(); ++i, entry = results.next()) {
            if (entry == nullptr || pairsOf(*entry) != expected[i]) {
                __builtin_trap();
            }
        }
        if (entry != nullptr || results.next() != nullptr) {
            __builtin_trap();
        }
        results.reset();
        if (results.next() != first) {
            __builtin_trap();
        }
        results.erase();
        if (results.size() != 0 || results.next() != nullptr) {
            __builtin_trap();
        }
    } catch (const RYXException& e) {
        if (wellFormed || e.getError() != 0 ||
            std::strcmp(e.getMessage().c_str(), "ldif file is malformed.") != 0) {
            __builtin_trap();
        }
    }
    return 0;
}
