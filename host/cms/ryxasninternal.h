// Helpers shared by the ASN.1 units of libryx8cms. Not installed, not exported.
#ifndef RYXASNINTERNAL_H
#define RYXASNINTERNAL_H

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/err.h>

#include <climits>
#include <cstddef>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>

#include "ryxasn.h"
#include "ryxbuffer.h"
#include "ryxexception.h"
#include "ryxopensslptr.h"
#include "ryxstring.h"

namespace ryxasn_internal {

// Text of every entry in this thread's OpenSSL error queue, joined by "; ", and
// an empty queue afterwards.
std::string takeOpenSSLErrors();

// Throws RYXASNException with code and message; when OpenSSL queued errors, their
// text is appended as " (<errors>)". The error queue is empty afterwards.
[[noreturn]] void throwASN(const char* file, int line, int code, const std::string& message);

// A new memory BIO; throws std::bad_alloc when none can be made.
ryx::UniquePtr<BIO> newMemoryBio();
// What was written into a memory BIO.
RYXString bioText(BIO* bio);
// An ASN.1 time as ASN1_TIME_print writes it ("Jan  2 03:04:05 2024 GMT").
RYXString timeText(const ASN1_TIME* time);

// Upper-case hex digits of an ASN.1 integer ("0" for zero, "-" before a negative).
RYXString integerHex(const ASN1_INTEGER* value);

// Throws RYXASNException (RYX_ERR_ASN_DECODE) when there are no bytes to decode
// or more than INT_MAX (OpenSSL's strings count their bytes in an int).
void requireInput(const unsigned char* der, size_t length, const char* what, const char* file,
                  int line);

// Throws RYXASNException (RYX_ERR_ASN_DECODE) for the used bytes of a length-byte
// input when bytes follow the first complete encoding.
void requireAllUsed(size_t used, size_t length, const char* what, const char* file, int line);

// Overwrites the bytes of an object of the given security type when it holds
// secrets, before they are released.
void forgetBytes(RYXBuffer& bytes, RYXASNSecurityType type);

// Puts value in the place of the handle a public class holds as a plain
// pointer (its header does without OpenSSL's); the previous one goes with value.
template <typename T>
void replaceHandle(T*& member, ryx::UniquePtr<typename std::common_type<T>::type> value) {
    value.reset(std::exchange(member, value.release()));
}

// Decodes exactly length bytes of DER into a new T with d2i, or throws
// RYXASNException (RYX_ERR_ASN_DECODE): no data, a decoder failure, or bytes left
// over after the first complete encoding. what names the type in the message.
template <typename T>
ryx::UniquePtr<T> decodeStrict(const unsigned char* der, size_t length,
                               T* (*d2i)(T**, const unsigned char**, long), const char* what,
                               const char* file, int line) {
    ERR_clear_error();
    requireInput(der, length, what, file, line);
    const unsigned char* p = der;
    ryx::UniquePtr<T> value(d2i(nullptr, &p, static_cast<long>(length)));
    if (!value) {
        throwASN(file, line, RYX_ERR_ASN_DECODE,
                 std::string("Unable to decode ") + what + " from " + std::to_string(length) +
                     " bytes of DER");
    }
    size_t used = static_cast<size_t>(p - der);
    if (used != length) {
        requireAllUsed(used, length, what, file, line);
    }
    ERR_clear_error();
    return value;
}

// The DER encoding of value by i2d, as a buffer; throws RYXASNException
// (RYX_ERR_ASN_STATE) when value is null or does not encode.
template <typename T>
RYXBuffer encodeDER(const T* value, int (*i2d)(const T*, unsigned char**), const char* what,
                    const char* file, int line) {
    if (value == nullptr) {
        throwASN(file, line, RYX_ERR_ASN_STATE, std::string("The ") + what + " holds no value");
    }
    unsigned char* out = nullptr;
    int length = i2d(value, &out);
    ryx::UniquePtr<unsigned char> owned(out);
    if (length <= 0 || out == nullptr) {
        throwASN(file, line, RYX_ERR_ASN_STATE,
                 std::string("Unable to encode the ") + what + " as DER");
    }
    return RYXBuffer(static_cast<unsigned int>(length), out);
}

}  // namespace ryxasn_internal

#endif
