// ASN.1 objects of the host toolkit: X.500 names, X.509 certificates and
// certificate revocation lists, decoded from DER with OpenSSL, and the containers
// in which they are handed out.
#ifndef RYXASN_H
#define RYXASN_H

#include <cstddef>
#include <string>
#include <vector>

#include "ryxbuffer.h"
#include "ryxexport.h"
#include "ryxstring.h"

// OpenSSL's types, named without including its headers.
struct X509_name_st;
struct x509_st;
struct X509_crl_st;

enum RYXASNSecurityType {
    RYXASN_SECURITY_NONE = 0,       // ordinary object
    RYXASN_SECURITY_SENSITIVE = 1,  // DER is cleansed when the object is destroyed
};

enum RYXASNStrRepType {
    RYXASN_STRREP_ONELINE = 0,    // OpenSSL's one-line form (/C=../O=..)
    RYXASN_STRREP_RFC1779 = 1,    // RFC 1779
    RYXASN_STRREP_MULTILINE = 2,  // one RDN a line
    RYXASN_STRREP_RFC2253 = 5,    // RFC 2253, as OpenSSL prints it
};

enum RYXOwnership {
    RYX_NOT_OWNER = 0,  // the container only refers to its objects
    RYX_OWNER = 1,      // the container destroys its objects with itself
};

// Base of every ASN.1 object. Not copyable.
class RYX_EXPORT RYXASNObject {
  public:
    explicit RYXASNObject(RYXASNSecurityType type = RYXASN_SECURITY_NONE);
    virtual ~RYXASNObject();
    RYXASNObject(const RYXASNObject&) = delete;
    RYXASNObject& operator=(const RYXASNObject&) = delete;

    virtual RYXString getClassName() const = 0;
    // Replaces the value by the one decoded from exactly length bytes of strict DER.
    // Throws RYXASNException (RYX_ERR_ASN_DECODE) and keeps the old value when the
    // bytes are not one complete DER encoding of this type.
    virtual void decodeDER(const unsigned char* der, size_t length) = 0;
    // The DER encoding of the value; throws RYXASNException (RYX_ERR_ASN_STATE)
    // when the object holds no value.
    virtual RYXBuffer getDEREncoding() const = 0;
    virtual bool hasValue() const = 0;
    RYXASNSecurityType getSecurityType() const;

  private:
    RYXASNSecurityType m_securityType;
};

class RYX_EXPORT RYXASNx500Name : public RYXASNObject {
  public:
    RYXASNx500Name();  // the empty name
    // Parses an RFC 4514 / RFC 2253 string (most significant RDN last, as written
    // in LDAP). Throws RYXASNException (RYX_ERR_ASN_NAME) on bad text.
    explicit RYXASNx500Name(const char* rfc4514);
    // Copies an OpenSSL name.
    explicit RYXASNx500Name(const X509_name_st* name);
    RYXASNx500Name(const RYXASNx500Name& other);
    RYXASNx500Name& operator=(const RYXASNx500Name& other);
    ~RYXASNx500Name() override;

    RYXString getClassName() const override;
    void decodeDER(const unsigned char* der, size_t length) override;
    RYXBuffer getDEREncoding() const override;
    bool hasValue() const override;

    // Number of RDNs.
    int getRDNCount() const;
    // Equal by OpenSSL's canonical comparison.
    bool equals(const RYXASNx500Name& other) const;
    const X509_name_st* native() const;

  private:
    X509_name_st* m_name;
};

// A certificate keeps the bytes it was decoded from: getDEREncoding copies them,
// getDERView shows them without a copy.
class RYX_EXPORT RYXASNx509Certificate : public RYXASNObject {
  public:
    explicit RYXASNx509Certificate(RYXASNSecurityType type);
    ~RYXASNx509Certificate() override;

    RYXString getClassName() const override;
    void decodeDER(const unsigned char* der, size_t length) override;
    RYXBuffer getDEREncoding() const override;
    bool hasValue() const override;
    // The decoded bytes, valid until the object is destroyed or decodes anew;
    // throws RYXASNException (RYX_ERR_ASN_STATE) before a value was decoded.
    RYXASNCBuffer getDERView() const;

    // These throw RYXASNException (RYX_ERR_ASN_STATE) before a value was decoded.
    RYXASNx500Name getSubject() const;
    RYXASNx500Name getIssuer() const;
    RYXString getSerialNumber() const;  // upper-case hex, no separators
    RYXString getNotBefore() const;     // as OpenSSL prints an ASN.1 time
    RYXString getNotAfter() const;
    const x509_st* native() const;

  private:
    x509_st* m_cert;
    RYXBuffer m_der;
};

// A revocation list is decoded lazily: decodeDER checks the whole encoding in one
// pass (it accepts exactly what OpenSSL's decoder accepts) and keeps the bytes,
// the issuer's place, the times, the CRL number and a sampled index of the
// revoked serial numbers. OpenSSL's X509_CRL is built from the bytes only when
// native() is first asked for it. The const operations may be called from
// several threads at once.
class RYX_EXPORT RYXASNCertificateList : public RYXASNObject {
  public:
    explicit RYXASNCertificateList(RYXASNSecurityType type);
    ~RYXASNCertificateList() override;

    RYXString getClassName() const override;
    // Throws RYXASNException (RYX_ERR_ASN_DECODE) when OpenSSL would not decode
    // the bytes, or when more than INT_MAX bytes are given.
    void decodeDER(const unsigned char* der, size_t length) override;
    RYXBuffer getDEREncoding() const override;
    bool hasValue() const override;

    // These throw RYXASNException (RYX_ERR_ASN_STATE) before a value was decoded.
    RYXASNx500Name getIssuer() const;
    RYXString getThisUpdate() const;
    RYXString getNextUpdate() const;  // empty when the list has none
    // The CRL number extension's value in upper-case hex; empty when the list has
    // none (or has it twice, or it does not decode).
    RYXString getCRLNumber() const;
    long getRevokedCount() const;
    // Whether the serial number (hex, either case) is on the list.
    bool isRevoked(const char* serialHex) const;
    // The decoded bytes, valid until the object is destroyed or decodes anew.
    RYXASNCBuffer getDERView() const;
    // The list's encoding with, of its entries, only those whose serial numbers
    // are among serialsHex: the same issuer, times, extensions and signature
    // algorithm, and an empty signature. OpenSSL reads the same answer for those
    // serial numbers from it in a fraction of the time and memory the whole
    // list takes; its signature check fails at once. Empty when the list cannot be narrowed so
    // (entries of other issuers or marked removeFromCRL, whose meaning depends on the entries left
    // out, or lengths that are not definite).
    RYXBuffer getNarrowedDER(const std::vector<std::string>& serialsHex) const;
    // OpenSSL's object, built on the first call (it costs about ten times the
    // memory of the bytes); throws RYXASNException when it cannot be built.
    const X509_crl_st* native() const;

  private:
    struct Impl;
    Impl* m_impl;
};

// Ordered container of ASN.1 objects. An owning container destroys its objects
// with itself and with clear().
class RYX_EXPORT RYXASNObjectContainer {
  public:
    explicit RYXASNObjectContainer(RYXOwnership ownership);
    virtual ~RYXASNObjectContainer();
    RYXASNObjectContainer(const RYXASNObjectContainer&) = delete;
    RYXASNObjectContainer& operator=(const RYXASNObjectContainer&) = delete;

    // Appends object. An owning container takes it over, also when the append
    // itself fails (the object is then destroyed and the exception passes on).
    void push_back(RYXASNObject* object);
    size_t size() const;
    bool empty() const;
    // The object at index; throws RYXException (RYX_ERR_INVALID_ARGUMENT) past the end.
    RYXASNObject* at(size_t index) const;
    RYXOwnership getOwnership() const;
    void clear();

  private:
    std::vector<RYXASNObject*> m_objects;
    RYXOwnership m_ownership;
};

class RYX_EXPORT RYXASNCertificateContainer : public RYXASNObjectContainer {
  public:
    explicit RYXASNCertificateContainer(RYXOwnership ownership);
    ~RYXASNCertificateContainer() override;
    // The certificate at index; throws RYXException past the end or when the
    // object there is no certificate.
    RYXASNx509Certificate* getCertificate(size_t index) const;
};

class RYX_EXPORT RYXASNCRLContainer : public RYXASNObjectContainer {
  public:
    explicit RYXASNCRLContainer(RYXOwnership ownership);
    ~RYXASNCRLContainer() override;
    RYXASNCertificateList* getCRL(size_t index) const;
};

class RYX_EXPORT RYXASNUtility {
  public:
    // Decodes der into object (see RYXASNObject::decodeDER); throws RYXASNException.
    static void setDEREncoding(RYXASNObject& object, const RYXASNCBuffer& der);
    // The name as text. With RYXASN_STRREP_RFC2253 and reverse false: RFC 2253 as
    // OpenSSL prints it (most significant RDN last); reverse true gives the RDNs in
    // the opposite order. Other representation types select OpenSSL's other forms.
    static RYXString getRFC2253String(const RYXASNx500Name& name, bool reverse,
                                      RYXASNStrRepType type);
};

#endif
