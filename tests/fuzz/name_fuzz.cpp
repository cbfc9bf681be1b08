// libFuzzer target for the host's RFC 4514 name parser. Any text either fails
// with the toolkit's exception or gives a name whose RFC 2253 form (the search
// base the plug-in sends) parses again to the same form. One exception is
// known and left to OpenSSL: it prints a value that is exactly "#" without its
// escape ("O=#"), which no parser reads back.
#include <cstdint>
#include <string>

#include "fuzzcheck.h"
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

std::string printed(const std::string& text) {
    RYXASNx500Name name(text.c_str());
    return RYXASNUtility::getRFC2253String(name, false, RYXASN_STRREP_RFC2253).c_str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string first;
    try {
        first = printed(std::string(reinterpret_cast<const char*>(data), size));
    } catch (const RYXException&) {
        return 0;
    }
    if (loneHash(first))
        return 0;
    try {
        if (printed(first) != first)
            fail("printed again differently: " + first);
    } catch (const RYXException&) {
        fail("the printed form does not parse: " + first);
    }
    return 0;
}
