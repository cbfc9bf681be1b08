// libFuzzer target for the LDIF-like reader. Every input must either give a
// result set equal to the one a small independent model of the line format
// predicts, or fail with the malformed-input error; nothing may leak or crash.
#include <strings.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "fuzzcheck.h"
#include "ldapsearchresults.h"
#include "ryxexception.h"

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// What the reader should make of the text: false when it is malformed.
bool model(const std::string& text, std::vector<Pairs>& entries) {
    size_t pos = 0;
    for (bool atEnd = false; !atEnd;) {
        Pairs entry;
        for (;;) {
            const size_t newline = text.find('\n', pos);
            const size_t length = (newline == std::string::npos ? text.size() : newline) - pos;
            if (length >= 4000)
                return false;
            std::string line(text.c_str() + pos);  // a line is text up to its first NUL
            line.resize(std::min(line.size(), length));
            atEnd = newline == std::string::npos;  // an unterminated last line is not read
            pos = newline + 1;
            if (atEnd || line.empty())
                break;
            const size_t colon = line.find(':');
            if (colon == std::string::npos)
                return false;
            const size_t value =
                std::min(line.find_first_not_of(" \t\v\f\r", colon + 1), line.size());
            entry.emplace_back(line.substr(0, colon), line.substr(value) + '\0');
        }
        // Names in case-insensitive order, the values of one name in line order.
        std::stable_sort(entry.begin(), entry.end(), [](const auto& a, const auto& b) {
            return strcasecmp(a.first.c_str(), b.first.c_str()) < 0;
        });
        entries.push_back(entry);
    }
    return true;
}

Pairs pairsOf(const LDAPEntry& entry) {
    Pairs pairs;
    for (const auto& attribute : entry)
        pairs.emplace_back(attribute.first,
                           std::string(reinterpret_cast<const char*>(attribute.second->getValue()),
                                       attribute.second->getLength()));
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
        require(wellFormed && results.size() == expected.size(), "accepted or counted wrongly");
        LDAPEntry* const first = results.next();
        LDAPEntry* entry = first;
        for (size_t i = 0; i < expected.size(); ++i, entry = results.next())
            require(entry != nullptr && pairsOf(*entry) == expected[i], "entry differs");
        require(entry == nullptr && results.next() == nullptr, "entries after the last");
        results.reset();
        require(results.next() == first, "reset");
        results.erase();
        require(results.size() == 0 && results.next() == nullptr, "erase");
    } catch (const RYXException& e) {
        const std::string message = e.getMessage().c_str();
        if (wellFormed || e.getError() != 0 || message != "ldif file is malformed.")
            fail("refused wrongly: " + message);
    }
    return 0;
}
