// Decoding into ASN.1 objects, and names as text.
#include <openssl/err.h>
#include <openssl/x509.h>

#include <new>
#include <string>

#include "ryxasn.h"
#include "ryxasninternal.h"
#include "ryxexception.h"

namespace {

// RFC 1779: RFC 2253's escaping, but values with special characters in quotes,
// and ", " / " + " between the parts.
const unsigned long kRFC1779Flags = (ASN1_STRFLGS_RFC2253 | ASN1_STRFLGS_ESC_QUOTE) |
                                    XN_FLAG_SEP_CPLUS_SPC | XN_FLAG_DN_REV | XN_FLAG_FN_SN |
                                    XN_FLAG_DUMP_UNKNOWN_FIELDS;

RYXString printName(const X509_NAME* name, unsigned long flags) {
    ryx::UniquePtr<BIO> bio = ryxasn_internal::newMemoryBio();
    if (X509_NAME_print_ex(bio.get(), name, 0, flags) < 0) {
        ryxasn_internal::throwASN(__FILE__, __LINE__, RYX_ERR_ASN_NAME,
                                  "Unable to print a distinguished name");
    }
    ERR_clear_error();
    return ryxasn_internal::bioText(bio.get());
}

// A copy of name with its RDNs in the opposite order; the members of each
// multi-valued RDN keep their order.
ryx::UniquePtr<X509_NAME> reversedName(const X509_NAME* name) {
    ryx::UniquePtr<X509_NAME> reversed(X509_NAME_new());
    if (!reversed) {
        ERR_clear_error();
        throw std::bad_alloc();
    }
    int count = X509_NAME_entry_count(name);
    int end = count;  // one past the last entry of the RDN being copied
    while (end > 0) {
        int set = X509_NAME_ENTRY_set(X509_NAME_get_entry(name, end - 1));
        int begin = end - 1;
        while (begin > 0 && X509_NAME_ENTRY_set(X509_NAME_get_entry(name, begin - 1)) == set) {
            --begin;
        }
        for (int i = begin; i < end; ++i) {
            if (X509_NAME_add_entry(reversed.get(), X509_NAME_get_entry(name, i), -1,
                                    i == begin ? 0 : -1) != 1) {
                ERR_clear_error();
                throw std::bad_alloc();
            }
        }
        end = begin;
    }
    return reversed;
}

// OpenSSL's one-line form, "/C=US/O=Org/CN=Name" (most significant RDN first).
RYXString oneLine(const X509_NAME* name) {
    ryx::UniquePtr<char> text(X509_NAME_oneline(name, nullptr, 0));
    if (!text) {
        ryxasn_internal::throwASN(__FILE__, __LINE__, RYX_ERR_ASN_NAME,
                                  "Unable to print a distinguished name");
    }
    return RYXString(text.get());
}

}  // namespace

void RYXASNUtility::setDEREncoding(RYXASNObject& object, const RYXASNCBuffer& der) {
    object.decodeDER(der.getData(), der.getLength());
}

RYXString RYXASNUtility::getRFC2253String(const RYXASNx500Name& name, bool reverse,
                                          RYXASNStrRepType type) {
    const X509_NAME* native = name.native();
    unsigned long flags;
    switch (type) {
        case RYXASN_STRREP_RFC2253:
            flags = XN_FLAG_RFC2253;
            break;
        case RYXASN_STRREP_RFC1779:
            flags = kRFC1779Flags;
            break;
        case RYXASN_STRREP_MULTILINE:
            flags = XN_FLAG_MULTILINE;
            break;
        case RYXASN_STRREP_ONELINE:
            if (reverse) {
                ryx::UniquePtr<X509_NAME> reversed = reversedName(native);
                return oneLine(reversed.get());
            }
            return oneLine(native);
        default: {
            std::string message =
                "Unknown name representation type " + std::to_string(static_cast<int>(type));
            throw RYXException(__FILE__, __LINE__, RYX_ERR_INVALID_ARGUMENT,
                               RYXString(message.data(), message.size()));
        }
    }
    if (reverse) {
        flags ^= XN_FLAG_DN_REV;
    }
    return printName(native, flags);
}
