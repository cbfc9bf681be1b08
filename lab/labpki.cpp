// Test PKI generator on OpenSSL.
#include "labpki.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cctype>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "ryxhex.h"

namespace labpki {

namespace {

template <typename T>
using Ptr = ryx::UniquePtr<T>;

[[noreturn]] void fail(const std::string& what) {
    std::string text = "labpki: " + what;
    unsigned long code;
    bool first = true;
    while ((code = ERR_get_error()) != 0) {
        char line[256];
        ERR_error_string_n(code, line, sizeof line);
        text += first ? ": " : "; ";
        text += line;
        first = false;
    }
    throw std::runtime_error(text);
}

void check(int ok, const char* what) {
    if (ok != 1) {
        fail(what);
    }
}

template <typename T>
T* checked(T* p, const char* what) {
    if (p == nullptr) {
        fail(what);
    }
    return p;
}

std::string trimmed(const std::string& text) {
    size_t begin = text.find_first_not_of(' ');
    if (begin == std::string::npos) {
        return std::string();
    }
    return text.substr(begin, text.find_last_not_of(' ') - begin + 1);
}

int attributeNid(const std::string& type) {
    static const std::pair<const char*, int> aliases[] = {
        {"cn", NID_commonName},
        {"c", NID_countryName},
        {"o", NID_organizationName},
        {"ou", NID_organizationalUnitName},
        {"l", NID_localityName},
        {"st", NID_stateOrProvinceName},
        {"street", NID_streetAddress},
        {"dc", NID_domainComponent},
        {"uid", NID_userId},
        {"emailaddress", NID_pkcs9_emailAddress},
        {"email", NID_pkcs9_emailAddress},
        {"serialnumber", NID_serialNumber},
        {"sn", NID_surname},
        {"gn", NID_givenName},
        {"givenname", NID_givenName},
        {"title", NID_title},
    };
    std::string lower;
    for (char c : type) {
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    for (const auto& alias : aliases) {
        if (lower == alias.first) {
            return alias.second;
        }
    }
    int nid = OBJ_txt2nid(type.c_str());  // OpenSSL's names, or a dotted OID
    ERR_clear_error();
    return nid;
}

// Splits text at the unescaped separators; escapes are kept for the next step.
std::vector<std::string> splitUnescaped(const std::string& text, const char* separators) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            parts.back() += text[i];
            parts.back() += text[++i];
        } else if (std::strchr(separators, text[i]) != nullptr) {
            parts.emplace_back();
        } else {
            parts.back() += text[i];
        }
    }
    return parts;
}

std::string unescaped(const std::string& text, const std::string& whole) {
    std::string value;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            value += text[i];
            continue;
        }
        if (i + 2 < text.size() && ryx::hexDigitValue(text[i + 1]) >= 0 &&
            ryx::hexDigitValue(text[i + 2]) >= 0) {
            value += static_cast<char>(ryx::hexDigitValue(text[i + 1]) * 16 +
                                       ryx::hexDigitValue(text[i + 2]));
            i += 2;
        } else if (i + 1 < text.size()) {
            value += text[++i];
        } else {
            throw std::runtime_error("labpki: '\\' at the end of a value in \"" + whole + "\"");
        }
    }
    return value;
}

void setTime(ASN1_TIME* time, std::time_t when, const char* what) {
    checked(ASN1_TIME_set(time, when), what);
}

X509_EXTENSION* makeExtension(X509V3_CTX* ctx, int nid, const char* value) {
    return checked(X509V3_EXT_nconf_nid(nullptr, ctx, nid, value), "making an extension");
}

void addExtension(X509* cert, X509V3_CTX* ctx, int nid, const char* value) {
    Ptr<X509_EXTENSION> extension(makeExtension(ctx, nid, value));
    check(X509_add_ext(cert, extension.get(), -1), "adding an extension");
}

// One distribution point per URI, built as structures: the text form of the
// extension splits at commas, which every LDAP URL holds.
void addDistributionPoints(X509* cert, const std::vector<std::string>& uris) {
    Ptr<CRL_DIST_POINTS> points(checked(CRL_DIST_POINTS_new(), "CRL_DIST_POINTS_new"));
    for (const std::string& uri : uris) {
        Ptr<DIST_POINT> owned(checked(DIST_POINT_new(), "DIST_POINT_new"));
        DIST_POINT* point = owned.get();
        if (sk_DIST_POINT_push(points.get(), point) <= 0) {
            fail("adding a distribution point");
        }
        owned.release();  // the list holds it now
        point->distpoint = checked(DIST_POINT_NAME_new(), "DIST_POINT_NAME_new");
        point->distpoint->type = 0;
        point->distpoint->name.fullname = checked(GENERAL_NAMES_new(), "GENERAL_NAMES_new");
        Ptr<GENERAL_NAME> ownedName(checked(GENERAL_NAME_new(), "GENERAL_NAME_new"));
        GENERAL_NAME* name = ownedName.get();
        if (sk_GENERAL_NAME_push(point->distpoint->name.fullname, name) <= 0) {
            fail("adding a distribution point name");
        }
        ownedName.release();  // the names hold it now
        ASN1_IA5STRING* text = checked(ASN1_IA5STRING_new(), "ASN1_IA5STRING_new");
        GENERAL_NAME_set0_value(name, GEN_URI, text);
        check(ASN1_STRING_set(text, uri.data(), static_cast<int>(uri.size())), "setting a URI");
    }
    check(X509_add1_ext_i2d(cert, NID_crl_distribution_points, points.get(), 0, 0),
          "adding the CRL distribution points");
}

CertPtr makeCertificate(const X509_NAME* subject, const EVP_PKEY* publicKey, const X509* issuer,
                        EVP_PKEY* issuerKey, const CertOptions& options) {
    CertPtr cert(checked(X509_new(), "X509_new"));
    check(X509_set_version(cert.get(), X509_VERSION_3), "setting the version");
    check(ASN1_INTEGER_set_uint64(X509_get_serialNumber(cert.get()), options.serial),
          "setting the serial number");
    check(X509_set_subject_name(cert.get(), subject), "setting the subject");
    check(X509_set_issuer_name(cert.get(),
                               issuer != nullptr ? X509_get_subject_name(issuer) : subject),
          "setting the issuer");
    setTime(X509_getm_notBefore(cert.get()),
            options.notBefore != 0 ? options.notBefore : fromNow(-3600), "setting notBefore");
    setTime(X509_getm_notAfter(cert.get()),
            options.notAfter != 0 ? options.notAfter : fromNow(365L * 24 * 3600),
            "setting notAfter");
    check(X509_set_pubkey(cert.get(), const_cast<EVP_PKEY*>(publicKey)), "setting the key");

    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer != nullptr ? const_cast<X509*>(issuer) : cert.get(), cert.get(),
                   nullptr, nullptr, 0);
    if (options.ca) {
        std::string constraints = "critical,CA:TRUE";
        if (options.pathLength >= 0) {
            constraints += ",pathlen:" + std::to_string(options.pathLength);
        }
        addExtension(cert.get(), &ctx, NID_basic_constraints, constraints.c_str());
        addExtension(cert.get(), &ctx, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        addExtension(cert.get(), &ctx, NID_basic_constraints, "critical,CA:FALSE");
        addExtension(cert.get(), &ctx, NID_key_usage, "critical,digitalSignature");
    }
    addExtension(cert.get(), &ctx, NID_subject_key_identifier, "hash");
    if (!options.crlDistributionPoints.empty()) {
        addDistributionPoints(cert.get(), options.crlDistributionPoints);
    }
    if (!options.subjectAltNames.empty()) {
        std::string names;
        for (const std::string& name : options.subjectAltNames) {
            names += (names.empty() ? "" : ",") + name;
        }
        addExtension(cert.get(), &ctx, NID_subject_alt_name, names.c_str());
    }
    if (issuer != nullptr) {
        addExtension(cert.get(), &ctx, NID_authority_key_identifier, "keyid:always");
    }
    if (X509_sign(cert.get(), issuerKey, EVP_sha256()) <= 0) {
        fail("signing a certificate");
    }
    return cert;
}

}  // namespace

KeyPtr makeKey() {
    return KeyPtr(checked(EVP_EC_gen("P-256"), "generating an EC key"));
}

NamePtr parseName(const std::string& rfc4514) {
    NamePtr name(checked(X509_NAME_new(), "X509_NAME_new"));
    if (trimmed(rfc4514).empty()) {
        return name;
    }
    std::vector<std::string> rdns = splitUnescaped(rfc4514, ",;");
    for (size_t r = rdns.size(); r-- > 0;) {
        // Members go in in reverse so that OpenSSL prints them in textual order.
        std::vector<std::string> members = splitUnescaped(rdns[r], "+");
        for (size_t m = members.size(); m-- > 0;) {
            const std::string& member = members[m];
            size_t equals = member.find('=');
            if (equals == std::string::npos) {
                throw std::runtime_error("labpki: '=' missing in \"" + rfc4514 + "\"");
            }
            std::string type = trimmed(member.substr(0, equals));
            int nid = attributeNid(type);
            if (nid == NID_undef) {
                throw std::runtime_error("labpki: unknown attribute type '" + type + "' in \"" +
                                         rfc4514 + "\"");
            }
            std::string raw = member.substr(equals + 1);
            raw.erase(0, raw.find_first_not_of(' ') == std::string::npos
                             ? raw.size()
                             : raw.find_first_not_of(' '));
            while (!raw.empty() && raw.back() == ' ' &&
                   (raw.size() < 2 || raw[raw.size() - 2] != '\\')) {
                raw.pop_back();
            }
            std::string value = unescaped(raw, rfc4514);
            if (X509_NAME_add_entry_by_NID(name.get(), nid, MBSTRING_UTF8,
                                           reinterpret_cast<const unsigned char*>(value.data()),
                                           static_cast<int>(value.size()), -1,
                                           m + 1 == members.size() ? 0 : -1) != 1) {
                fail("the value of " + type + " in \"" + rfc4514 + "\"");
            }
        }
    }
    return name;
}

std::string nameText(const X509_NAME* name) {
    Ptr<BIO> bio(checked(BIO_new(BIO_s_mem()), "BIO_new"));
    if (X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253) < 0) {
        fail("printing a name");
    }
    char* data = nullptr;
    long length = BIO_get_mem_data(bio.get(), &data);
    return length > 0 ? std::string(data, static_cast<size_t>(length)) : std::string();
}

namespace {
// A lock rather than an atomic: a 64-bit atomic needs libatomic on 32-bit targets.
std::mutex g_referenceLock;
std::time_t g_reference = 0;
}  // namespace

std::time_t referenceTime() {
    std::lock_guard<std::mutex> hold(g_referenceLock);
    if (g_reference == 0) {
        g_reference = std::time(nullptr);
    }
    return g_reference;
}

void setReferenceTime(std::time_t reference) {
    std::lock_guard<std::mutex> hold(g_referenceLock);
    g_reference = reference;
}

std::time_t fromNow(long seconds) {
    return referenceTime() + seconds;
}

CertOptions Authority::caDefaults(std::uint64_t serial) {
    CertOptions options;
    options.serial = serial;
    options.ca = true;
    options.notAfter = fromNow(10L * 365 * 24 * 3600);
    return options;
}

Authority Authority::root(const std::string& subject) {
    return root(subject, caDefaults());
}

Authority Authority::intermediate(const std::string& subject) const {
    return intermediate(subject, caDefaults(2));
}

Authority Authority::root(const std::string& subject, const CertOptions& options) {
    KeyPtr key = makeKey();
    NamePtr name = parseName(subject);
    CertPtr cert = makeCertificate(name.get(), key.get(), nullptr, key.get(), options);
    return Authority(std::move(key), std::move(cert));
}

Authority Authority::intermediate(const std::string& subject, const CertOptions& options) const {
    KeyPtr key = makeKey();
    NamePtr name = parseName(subject);
    CertPtr cert = makeCertificate(name.get(), key.get(), m_cert.get(), m_key.get(), options);
    return Authority(std::move(key), std::move(cert));
}

Bytes Authority::issue(const std::string& subject, const CertOptions& options,
                       const EVP_PKEY* key) const {
    KeyPtr own;
    if (key == nullptr) {
        own = makeKey();
        key = own.get();
    }
    NamePtr name = parseName(subject);
    CertPtr cert = makeCertificate(name.get(), key, m_cert.get(), m_key.get(), options);
    return toDER(cert.get());
}

Bytes Authority::issue(const std::string& subject, std::uint64_t serial) const {
    CertOptions options;
    options.serial = serial;
    return issue(subject, options);
}

Bytes Authority::certify(const Authority& subjectCA, const CertOptions& options) const {
    CertPtr cert = makeCertificate(X509_get_subject_name(subjectCA.m_cert.get()),
                                   subjectCA.m_key.get(), m_cert.get(), m_key.get(), options);
    return toDER(cert.get());
}

Bytes Authority::crl(const CrlOptions& options) const {
    return makeList(options, false);
}

Bytes Authority::arl(const CrlOptions& options) const {
    return makeList(options, true);
}

Bytes Authority::makeList(const CrlOptions& options, bool authority) const {
    CrlPtr crl(checked(X509_CRL_new(), "X509_CRL_new"));
    check(X509_CRL_set_version(crl.get(), X509_CRL_VERSION_2), "setting the CRL version");
    check(X509_CRL_set_issuer_name(crl.get(), X509_get_subject_name(m_cert.get())),
          "setting the CRL issuer");
    std::time_t thisUpdate = options.thisUpdate != 0 ? options.thisUpdate : referenceTime();
    Ptr<ASN1_TIME> time(checked(ASN1_TIME_new(), "ASN1_TIME_new"));
    setTime(time.get(), thisUpdate, "setting thisUpdate");
    check(X509_CRL_set1_lastUpdate(crl.get(), time.get()), "setting thisUpdate");
    if (options.hasNextUpdate) {
        Ptr<ASN1_TIME> next(checked(ASN1_TIME_new(), "ASN1_TIME_new"));
        setTime(next.get(),
                options.nextUpdate != 0 ? options.nextUpdate : thisUpdate + 7L * 24 * 3600,
                "setting nextUpdate");
        check(X509_CRL_set1_nextUpdate(crl.get(), next.get()), "setting nextUpdate");
    }

    // Entries revoked an hour before thisUpdate, serials increasing, so that the
    // sort OpenSSL applies before encoding finds them in order already.
    Ptr<ASN1_TIME> revokedAt(checked(ASN1_TIME_new(), "ASN1_TIME_new"));
    setTime(revokedAt.get(), thisUpdate - 3600, "setting a revocation date");
    Ptr<ASN1_INTEGER> serial(checked(ASN1_INTEGER_new(), "ASN1_INTEGER_new"));
    Ptr<ASN1_ENUMERATED> reason(checked(ASN1_ENUMERATED_new(), "ASN1_ENUMERATED_new"));
    check(ASN1_ENUMERATED_set(reason.get(), CRL_REASON_KEY_COMPROMISE), "setting a reason");
    const std::size_t total = options.revokedCount + options.serials.size();
    for (std::size_t i = 0; i < total; ++i) {
        Ptr<X509_REVOKED> entry(checked(X509_REVOKED_new(), "X509_REVOKED_new"));
        const std::uint64_t number = i < options.revokedCount
                                         ? options.firstSerial + i
                                         : options.serials[i - options.revokedCount];
        check(ASN1_INTEGER_set_uint64(serial.get(), number), "setting a serial");
        check(X509_REVOKED_set_serialNumber(entry.get(), serial.get()), "setting a serial");
        check(X509_REVOKED_set_revocationDate(entry.get(), revokedAt.get()),
              "setting a revocation date");
        if (options.withReasons && i % 10 == 0) {
            check(X509_REVOKED_add1_ext_i2d(entry.get(), NID_crl_reason, reason.get(), 0, 0),
                  "adding a reason");
        }
        check(X509_CRL_add0_revoked(crl.get(), entry.get()), "adding a revoked entry");
        entry.release();
    }

    Ptr<ASN1_INTEGER> number(checked(ASN1_INTEGER_new(), "ASN1_INTEGER_new"));
    check(ASN1_INTEGER_set_uint64(number.get(), options.crlNumber), "setting the CRL number");
    check(X509_CRL_add1_ext_i2d(crl.get(), NID_crl_number, number.get(), 0, 0),
          "adding the CRL number");
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, m_cert.get(), nullptr, nullptr, crl.get(), 0);
    Ptr<X509_EXTENSION> keyId(makeExtension(&ctx, NID_authority_key_identifier, "keyid:always"));
    check(X509_CRL_add_ext(crl.get(), keyId.get(), -1), "adding the authority key identifier");
    if (authority) {
        Ptr<ISSUING_DIST_POINT> idp(checked(ISSUING_DIST_POINT_new(), "ISSUING_DIST_POINT_new"));
        idp->onlyCA = 1;
        check(X509_CRL_add1_ext_i2d(crl.get(), NID_issuing_distribution_point, idp.get(), 1, 0),
              "adding the issuing distribution point");
    }
    if (X509_CRL_sign(crl.get(), m_key.get(), EVP_sha256()) <= 0) {
        fail("signing a CRL");
    }
    return toDER(crl.get());
}

Bytes Authority::certificateDER() const {
    return toDER(m_cert.get());
}

std::string Authority::subject() const {
    return nameText(X509_get_subject_name(m_cert.get()));
}

namespace {

template <typename T>
Bytes encoded(const T* value, int (*i2d)(const T*, unsigned char**), const char* what) {
    unsigned char* out = nullptr;
    int length = i2d(value, &out);
    Ptr<unsigned char> owned(out);
    if (length <= 0) {
        fail(std::string("encoding ") + what);
    }
    return Bytes(out, out + length);
}

template <typename T>
T* decoded(const Bytes& der, T* (*d2i)(T**, const unsigned char**, long), void (*freeFn)(T*),
           const char* what) {
    const unsigned char* p = der.data();
    T* value = d2i(nullptr, &p, static_cast<long>(der.size()));
    if (value == nullptr) {
        fail(std::string("decoding ") + what);
    }
    if (p != der.data() + der.size()) {
        freeFn(value);
        throw std::runtime_error(std::string("labpki: bytes after the DER of ") + what);
    }
    return value;
}

}  // namespace

Bytes toDER(const X509* cert) {
    return encoded<X509>(cert, i2d_X509, "a certificate");
}
Bytes toDER(const X509_CRL* crl) {
    return encoded<X509_CRL>(crl, i2d_X509_CRL, "a CRL");
}
Bytes toDER(const X509_NAME* name) {
    return encoded<X509_NAME>(name, i2d_X509_NAME, "a name");
}

CertPtr certificateFromDER(const Bytes& der) {
    return CertPtr(decoded<X509>(der, d2i_X509, X509_free, "a certificate"));
}

CrlPtr crlFromDER(const Bytes& der) {
    return CrlPtr(decoded<X509_CRL>(der, d2i_X509_CRL, X509_CRL_free, "a CRL"));
}

std::string toPEM(const Bytes& der, const std::string& label) {
    Ptr<BIO> bio(checked(BIO_new(BIO_s_mem()), "BIO_new"));
    if (PEM_write_bio(bio.get(), label.c_str(), "", der.data(), static_cast<long>(der.size())) <=
        0) {
        fail("writing PEM");
    }
    char* data = nullptr;
    long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(length));
}

std::string certificatePEM(const Bytes& der) {
    return toPEM(der, "CERTIFICATE");
}

std::string privateKeyPEM(const EVP_PKEY* key) {
    Ptr<BIO> bio(checked(BIO_new(BIO_s_mem()), "BIO_new"));
    if (PEM_write_bio_PrivateKey(bio.get(), const_cast<EVP_PKEY*>(key), nullptr, nullptr, 0,
                                 nullptr, nullptr) <= 0) {
        fail("writing a private key");
    }
    char* data = nullptr;
    long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(length));
}

std::string crlPEM(const Bytes& der) {
    return toPEM(der, "X509 CRL");
}

Bytes fromPEM(const std::string& pem) {
    Ptr<BIO> bio(checked(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), "BIO_new"));
    char* name = nullptr;
    char* header = nullptr;
    unsigned char* data = nullptr;
    long length = 0;
    const bool read = PEM_read_bio(bio.get(), &name, &header, &data, &length) == 1;
    Ptr<char> ownedName(name), ownedHeader(header);
    Ptr<unsigned char> owned(data);
    if (!read) {
        fail("reading PEM");
    }
    return Bytes(data, data + length);
}

std::string toHex(const Bytes& bytes, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (unsigned char b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 0x0f];
    }
    return text;
}

Bytes fromHex(const std::string& hex) {
    if (hex.size() % 2 != 0) {
        throw std::runtime_error("labpki: odd number of hex digits");
    }
    Bytes bytes(hex.size() / 2);
    for (size_t i = 0; i < hex.size(); i += 2) {
        int high = ryx::hexDigitValue(hex[i]);
        int low = ryx::hexDigitValue(hex[i + 1]);
        if (high < 0 || low < 0) {
            throw std::runtime_error("labpki: non-hex character in hex text");
        }
        bytes[i / 2] = static_cast<unsigned char>(high * 16 + low);
    }
    return bytes;
}

std::string asnHexText(const Bytes& der, const std::string& mark) {
    return mark + toHex(der);
}

}  // namespace labpki
