// One pass over the encoding of a certificate revocation list, a fast path for
// strict DER only: definite lengths in their shortest form, low tag numbers,
// primitive strings. What it accepts, OpenSSL's d2i_X509_CRL accepts too, and
// reads the same way; everything else is left to OpenSSL. It notes where the
// parts lie so that the list can answer questions from its bytes without
// building OpenSSL's objects. Not installed, not exported.
#ifndef RYXCRLSCAN_H
#define RYXCRLSCAN_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ryxasn_internal {

// Every how many entries the sampled index keeps one.
const size_t kCrlSampleStride = 64;

struct CrlLayout {
    size_t issuerOffset = 0;  // the issuer's Name
    long issuerLength = 0;    // its whole encoding
    int thisUpdateType = 0;   // V_ASN1_UTCTIME or V_ASN1_GENERALIZEDTIME
    std::string thisUpdate;   // content octets
    bool hasNextUpdate = false;
    int nextUpdateType = 0;
    std::string nextUpdate;
    bool hasCrlNumber = false;  // exactly one CRL number extension
    std::string crlNumber;      // its value: the DER of an INTEGER, perhaps more
    size_t revokedCount = 0;
    size_t entriesBegin = 0;  // offset of the first revoked entry
    size_t entriesEnd = 0;    // offset just past the last one
    // Offset of entry 0, kCrlSampleStride, 2 * kCrlSampleStride, ...
    std::vector<std::uint32_t> samples;
    bool sorted = true;  // serial numbers never decrease from one entry to the next
    // No entry has an extension that can change the answer of a look-up by
    // serial number alone (a certificate issuer, a removeFromCRL reason, or a
    // reason that does not decode).
    bool plainEntries = true;
};

// Scans der[0, length) for one strict DER encoding of a CertificateList.
// Returns the length of that encoding (bytes may follow it), or 0 when the
// bytes are no such encoding: then only OpenSSL can tell whether they are a
// list. length must not exceed INT_MAX.
size_t scanCertificateList(const unsigned char* der, size_t length, CrlLayout& layout);

// Serial numbers as the content octets of a DER INTEGER, compared by value.
int compareSerials(const unsigned char* a, size_t aLength, const unsigned char* b, size_t bLength);

// The serial number of the scanned entry at offset (content octets) and the
// offset of the entry after it. False when the bytes there are no entry.
bool entrySerial(const unsigned char* der, size_t offset, size_t end, const unsigned char*& serial,
                 size_t& serialLength, size_t& next);

// The content octets of a DER INTEGER that der holds in full.
bool integerContent(const unsigned char* der, size_t length, const unsigned char*& content,
                    size_t& contentLength);

}  // namespace ryxasn_internal

#endif
