// libFuzzer target for the host's RFC 4514 name parser. Any text either fails
// with the toolkit's exception or gives a name whose RFC 2253 form (the search
// base the plug-in sends) parses again to the same form. One exception is
// known and left to OpenSSL: it prints a value that is exactly "#" without its
// escape ("O=#"), which no parser reads back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ryxasn.h"
#include "ryxexception.h"

namespace {

bool loneHash(const std::string& text) {
    for (size_t at = text.find("=#"); at != std::string::npos; at = text.find("=#", at + 1)) {
        const char next = at + 2 < text.size() ? text[at + 2] : ',';
        if (next == ',' || next == '+')
            return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string first;
    try {
        RYXASNx500Name name(text.c_str());
        first = RYXASNUtility::getRFC2253String(name, false, RYXASN_STRREP_RFC2253).c_str();
    } catch (const RYXException&) {
        return 0;
    }
    if (loneHash(first))
        return 0;
    try {
        RYXASNx500Name again(first.c_str());
        const std::string second =
            RYXASNUtility::getRFC2253String(again, false, RYXASN_STRREP_RFC2253).c_str();
        if (second != first)
            std::abort();
    } catch (const RYXException&) {
        std::abort();  // the printed form of a name must parse
    }
    return 0;
}
