// What publish decides before it writes: whether a file holds a well-formed
// list or certificate, and whether a list may replace the lists already in
// the target attribute. OpenSSL does every decoding and comparison; nothing
// here talks to the directory.
#ifndef RYXDIR_PUBLISHCHECK_H
#define RYXDIR_PUBLISHCHECK_H

#include <ctime>
#include <string>
#include <vector>

#include "ryxopensslptr.h"

namespace ryxdir {

// A DER value and the object it decodes to.
template <typename Ptr>
struct Decoded {
    std::string der;
    Ptr object;
};
using DecodedList = Decoded<ryx::UniquePtr<X509_CRL>>;
using DecodedCert = Decoded<ryx::UniquePtr<X509>>;

// The first list or certificate of a file's bytes (PEM or DER). Null object
// when the bytes are not one DER value that decodes; a certificate must also
// encode back to the same bytes. A list of a million entries takes OpenSSL
// seconds to decode, so a list's object holds everything but its entries
// (issuer, times, extensions); with scan, the host toolkit's one-pass scanner
// first reads the whole list.
DecodedList decodeList(const std::string& bytes, bool scan = true);
DecodedCert decodeCert(const std::string& bytes);
// A directory value (DER or "{ASN}" hex text) as DER; empty when it is neither.
std::string derOfValue(const std::string& value);

// A list that covers only CA certificates (its issuing distribution point says so).
bool coversOnlyCAs(const X509_CRL* crl);
// Same issuer and same scope (issuing distribution point, or none).
bool sameIssuerAndScope(const X509_CRL* a, const X509_CRL* b);
// The list's CRL number in decimal; empty when it has none.
std::string crlNumberText(const X509_CRL* crl);

enum class ListVerdict { Ok, BadSignature, NoIssuerCert, NotNewer, Expired };

struct ListCheck {
    ListVerdict verdict = ListVerdict::Ok;
    std::string why;  // one line, empty when Ok
};

// Whether list may replace current: its signature verifies with one of
// issuers (certificates named as its issuer); its number is greater than that
// of every list of current with the same issuer and scope; it is not past its
// next update at now. force skips the number and date, never the signature.
ListCheck checkList(const DecodedList& list, const std::vector<ryx::UniquePtr<X509>>& issuers,
                    const std::vector<const X509_CRL*>& current, std::time_t now, bool force);

}  // namespace ryxdir

#endif
