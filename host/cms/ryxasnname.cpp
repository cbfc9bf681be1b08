// X.500 names: OpenSSL's X509_NAME, built from DER or from the string form used
// in LDAP (RFC 4514, and RFC 2253's quoted values and ';' separators).
#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <cctype>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ryxasn.h"
#include "ryxasninternal.h"
#include "ryxexception.h"
#include "ryxhex.h"

using ryxasn_internal::throwASN;

namespace {

X509_NAME* newEmptyName() {
    X509_NAME* name = X509_NAME_new();
    if (name == nullptr) {
        ERR_clear_error();
        throw std::bad_alloc();
    }
    return name;
}

// OpenSSL copies a name by encoding and decoding it. An empty name read with a
// long-form length ("30 81 00") does not decode on its own, so an empty name is
// copied as the empty name.
X509_NAME* copyName(const X509_NAME* name) {
    X509_NAME* copy = X509_NAME_dup(name);
    if (copy == nullptr && X509_NAME_entry_count(name) == 0) {
        ERR_clear_error();
        return newEmptyName();
    }
    if (copy == nullptr) {
        ERR_clear_error();
        throw std::bad_alloc();
    }
    return copy;
}

std::string lowerCase(const std::string& text) {
    std::string lower(text);
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower;
}

// Attribute type names compared without regard to case: OpenSSL's short and long
// names of every object it knows (short names win over long ones), and the
// aliases that LDAP and mail software use for the e-mail address. A name is
// looked up in OpenSSL's object table when it is first asked for and then
// remembered, so that a process that parses a few names reads the table for
// those few rather than building a map of all of it.
class AttributeNames {
  public:
    static AttributeNames& instance() {
        static AttributeNames names;
        return names;
    }

    int find(const std::string& name) {
        const std::string key = lowerCase(name);
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_nids.find(key);
        if (it != m_nids.end()) {
            return it->second;
        }
        const int nid = search(key);
        if (nid != NID_undef) {
            m_nids.emplace(key, nid);  // known names only: their number is bounded
        }
        return nid;
    }

  private:
    AttributeNames()
        : m_nids{{"uid", NID_userId},
                 {"email", NID_pkcs9_emailAddress},
                 {"e", NID_pkcs9_emailAddress}} {}

    static bool sameLowered(const char* text, const std::string& lower) {
        size_t i = 0;
        for (; text[i] != '\0' && i < lower.size(); ++i) {
            if (std::tolower(static_cast<unsigned char>(text[i])) != lower[i]) {
                return false;
            }
        }
        return text[i] == '\0' && i == lower.size();
    }

    // The first object whose short name, else the first whose long name, is
    // the lower-case key in some case.
    static int search(const std::string& key) {
        const int count = OBJ_new_nid(0);
        ERR_set_mark();  // gaps in the object table queue "unknown nid" errors
        int found = NID_undef;
        for (int pass = 0; pass < 2 && found == NID_undef; ++pass) {
            for (int nid = 1; nid < count && found == NID_undef; ++nid) {
                const char* text = pass == 0 ? OBJ_nid2sn(nid) : OBJ_nid2ln(nid);
                if (text != nullptr && sameLowered(text, key)) {
                    found = nid;
                }
            }
        }
        ERR_pop_to_mark();
        return found;
    }

    std::mutex m_mutex;
    std::unordered_map<std::string, int> m_nids;
};

// One attribute value assertion: type and value. type is MBSTRING_UTF8 for a
// string value (OpenSSL then picks the ASN.1 string type the attribute takes) or
// the ASN.1 tag of a value given as "#" and its BER in hex.
struct Assertion {
    ryx::UniquePtr<ASN1_OBJECT> object;
    int type = MBSTRING_UTF8;
    std::string value;
};
using RDN = std::vector<Assertion>;

// Reads a distinguished name written as in LDAP: RDNs separated by ',' or ';', the
// most significant last; the attribute value assertions of a multi-valued RDN
// joined by '+'; values unquoted with '\' escapes (a special character or two hex
// digits), quoted, or '#' and the hex digits of a BER encoding. Spaces around
// types, '=' and separators are ignored.
class DNParser {
  public:
    explicit DNParser(const char* text) : m_text(text), m_length(std::strlen(text)) {}

    ryx::UniquePtr<X509_NAME> parse() {
        std::vector<RDN> rdns;
        skipSpaces();
        if (atEnd()) {
            return ryx::UniquePtr<X509_NAME>(newEmptyName());
        }
        rdns.emplace_back();
        for (;;) {
            rdns.back().push_back(parseAssertion());
            skipSpaces();
            if (atEnd()) {
                break;
            }
            char separator = m_text[m_pos++];
            if (separator == '+') {
                continue;
            }
            if (separator == ',' || separator == ';') {
                rdns.emplace_back();
                continue;
            }
            fail("',', ';' or '+' expected", m_pos - 1);
        }
        return build(rdns);
    }

  private:
    [[noreturn]] void fail(const std::string& why, size_t offset) const {
        throwASN(__FILE__, __LINE__, RYX_ERR_ASN_NAME,
                 "Invalid distinguished name \"" + std::string(m_text, m_length) + "\": " + why +
                     " at offset " + std::to_string(offset));
    }

    bool atEnd() const { return m_pos >= m_length; }

    // The byte written as two hex digits at pos, or -1.
    int hexPairAt(size_t pos) const {
        if (pos + 1 >= m_length) {
            return -1;
        }
        int high = ryx::hexDigitValue(m_text[pos]);
        int low = ryx::hexDigitValue(m_text[pos + 1]);
        return high < 0 || low < 0 ? -1 : high * 16 + low;
    }
    char peek() const { return atEnd() ? '\0' : m_text[m_pos]; }

    void skipSpaces() {
        while (!atEnd() && m_text[m_pos] == ' ') {
            ++m_pos;
        }
    }

    Assertion parseAssertion() {
        Assertion assertion;
        skipSpaces();
        assertion.object = parseType();
        skipSpaces();
        if (peek() != '=') {
            fail("'=' expected after the attribute type", m_pos);
        }
        ++m_pos;
        skipSpaces();
        if (peek() == '#') {
            parseBERValue(assertion);
        } else if (peek() == '"') {
            parseQuotedValue(assertion);
        } else {
            parseStringValue(assertion);
        }
        return assertion;
    }

    ryx::UniquePtr<ASN1_OBJECT> parseType() {
        size_t start = m_pos;
        while (!atEnd()) {
            char c = m_text[m_pos];
            if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '-' && c != '.') {
                break;
            }
            ++m_pos;
        }
        std::string type(m_text + start, m_pos - start);
        if (type.empty()) {
            fail("attribute type expected", start);
        }
        std::string oid = type;
        if (oid.size() > 4 && lowerCase(oid.substr(0, 4)) == "oid.") {
            oid.erase(0, 4);
        }
        ryx::UniquePtr<ASN1_OBJECT> object;
        if (std::isdigit(static_cast<unsigned char>(oid[0])) != 0) {
            bool dotted = oid.back() != '.' && oid.find("..") == std::string::npos &&
                          oid.find_first_not_of("0123456789.") == std::string::npos &&
                          oid.find('.') != std::string::npos;
            if (dotted) {
                object.reset(OBJ_txt2obj(oid.c_str(), 1));
            }
            if (!object) {
                ERR_clear_error();
                fail("bad object identifier '" + type + "'", start);
            }
            return object;
        }
        if (type.find('.') != std::string::npos) {
            fail("bad attribute type '" + type + "'", start);
        }
        // LDAP's "uid" (RFC 4519) is userId; OpenSSL gives that short name to
        // uniqueIdentifier, so the LDAP meaning is looked up first.
        int nid = lowerCase(type) == "uid" ? NID_userId : OBJ_sn2nid(type.c_str());
        if (nid == NID_undef) {
            nid = OBJ_ln2nid(type.c_str());
        }
        if (nid == NID_undef) {
            nid = AttributeNames::instance().find(type);
        }
        if (nid != NID_undef) {
            object.reset(OBJ_nid2obj(nid));
        }
        if (!object) {
            ERR_clear_error();
            fail("unknown attribute type '" + type + "'", start);
        }
        return object;
    }

    // '\' has been read; appends the escaped character or hex pair.
    void parseEscape(std::string& value) {
        size_t start = m_pos - 1;
        if (atEnd()) {
            fail("'\\' at the end of the text", start);
        }
        char c = m_text[m_pos];
        if (ryx::hexDigitValue(c) >= 0) {
            int byte = hexPairAt(m_pos);
            if (byte < 0) {
                fail("'\\' must be followed by a special character or two hex digits", start);
            }
            value.push_back(static_cast<char>(byte));
            m_pos += 2;
            return;
        }
        if (std::strchr(",+\"\\<>;=# ", c) == nullptr) {
            fail("'\\' must be followed by a special character or two hex digits", start);
        }
        value.push_back(c);
        ++m_pos;
    }

    void parseStringValue(Assertion& assertion) {
        std::string& value = assertion.value;
        size_t significant = 0;  // length without trailing unescaped spaces
        while (!atEnd()) {
            char c = m_text[m_pos];
            if (c == ',' || c == ';' || c == '+') {
                break;
            }
            if (c == '\\') {
                ++m_pos;
                parseEscape(value);
                significant = value.size();
                continue;
            }
            if (c == '"' || c == '<' || c == '>') {
                fail(std::string("unescaped '") + c + "' in a value", m_pos);
            }
            value.push_back(c);
            if (c != ' ') {
                significant = value.size();
            }
            ++m_pos;
        }
        value.resize(significant);
    }

    void parseQuotedValue(Assertion& assertion) {
        size_t start = m_pos++;
        for (;;) {
            if (atEnd()) {
                fail("unterminated quoted value", start);
            }
            char c = m_text[m_pos++];
            if (c == '"') {
                break;
            }
            if (c == '\\') {
                parseEscape(assertion.value);
            } else {
                assertion.value.push_back(c);
            }
        }
    }

    void parseBERValue(Assertion& assertion) {
        size_t start = m_pos++;
        std::string der;
        while (!atEnd() && ryx::hexDigitValue(m_text[m_pos]) >= 0) {
            int byte = hexPairAt(m_pos);
            if (byte < 0) {
                fail("odd number of hex digits after '#'", start);
            }
            der.push_back(static_cast<char>(byte));
            m_pos += 2;
        }
        if (der.empty()) {
            fail("hex digits expected after '#'", start);
        }
        const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
        ryx::UniquePtr<ASN1_TYPE> decoded(
            d2i_ASN1_TYPE(nullptr, &p, static_cast<long>(der.size())));
        if (!decoded || p != reinterpret_cast<const unsigned char*>(der.data()) + der.size()) {
            ERR_clear_error();
            fail("the value after '#' is not one BER encoding", start);
        }
        int tag = ASN1_TYPE_get(decoded.get());
        unsigned long allowed = (B_ASN1_PRINTABLE) & ~(B_ASN1_SEQUENCE | B_ASN1_UNKNOWN);
        if ((ASN1_tag2bit(tag) & allowed) == 0) {
            fail("the value after '#' is no string type a name can hold", start);
        }
        const ASN1_STRING* content = decoded->value.asn1_string;
        assertion.type = tag;
        assertion.value.assign(reinterpret_cast<const char*>(ASN1_STRING_get0_data(content)),
                               static_cast<size_t>(ASN1_STRING_length(content)));
        // Held to OpenSSL's rules for the attribute (length bounds, string
        // types), as a string value is: otherwise the name would print as text
        // that does not parse.
        const int form = tag == V_ASN1_UTF8STRING        ? MBSTRING_UTF8
                         : tag == V_ASN1_BMPSTRING       ? MBSTRING_BMP
                         : tag == V_ASN1_UNIVERSALSTRING ? MBSTRING_UNIV
                                                         : MBSTRING_ASC;
        const ryx::UniquePtr<ASN1_STRING> checked(ASN1_STRING_set_by_NID(
            nullptr, ASN1_STRING_get0_data(content), ASN1_STRING_length(content), form,
            OBJ_obj2nid(assertion.object.get())));
        ERR_clear_error();
        if (!checked) {
            fail("the value after '#' is not accepted for its attribute", start);
        }
    }

    // The most significant RDN comes first in X509_NAME, last in the text; the
    // members of a multi-valued RDN go in in reverse too, so that OpenSSL, which
    // prints the entries last to first, writes them back in their textual order.
    ryx::UniquePtr<X509_NAME> build(const std::vector<RDN>& rdns) const {
        ryx::UniquePtr<X509_NAME> name(newEmptyName());
        for (size_t r = rdns.size(); r-- > 0;) {
            const RDN& rdn = rdns[r];
            for (size_t a = rdn.size(); a-- > 0;) {
                const Assertion& assertion = rdn[a];
                int set = a + 1 == rdn.size() ? 0 : -1;
                const unsigned char* bytes =
                    reinterpret_cast<const unsigned char*>(assertion.value.data());
                if (X509_NAME_add_entry_by_OBJ(name.get(), assertion.object.get(), assertion.type,
                                               bytes, static_cast<int>(assertion.value.size()), -1,
                                               set) != 1) {
                    char type[128];
                    OBJ_obj2txt(type, sizeof type, assertion.object.get(), 0);
                    throwASN(__FILE__, __LINE__, RYX_ERR_ASN_NAME,
                             "Invalid distinguished name \"" + std::string(m_text, m_length) +
                                 "\": the value of " + type + " is not accepted");
                }
            }
        }
        if (i2d_X509_NAME(name.get(), nullptr) <= 0) {
            throwASN(__FILE__, __LINE__, RYX_ERR_ASN_NAME,
                     "Invalid distinguished name \"" + std::string(m_text, m_length) +
                         "\": it does not encode");
        }
        return name;
    }

    const char* m_text;
    size_t m_length;
    size_t m_pos = 0;
};

}  // namespace

RYXASNx500Name::RYXASNx500Name() : m_name(newEmptyName()) {}

RYXASNx500Name::RYXASNx500Name(const char* rfc4514) : m_name(nullptr) {
    if (rfc4514 == nullptr) {
        throw RYXASNException(__FILE__, __LINE__, RYX_ERR_ASN_NAME,
                              "Invalid distinguished name: null text");
    }
    ERR_clear_error();
    m_name = DNParser(rfc4514).parse().release();
}

RYXASNx500Name::RYXASNx500Name(const X509_name_st* name)
    : m_name(name == nullptr ? newEmptyName() : copyName(name)) {}

RYXASNx500Name::RYXASNx500Name(const RYXASNx500Name& other)
    : RYXASNObject(other.getSecurityType()), m_name(copyName(other.m_name)) {}

RYXASNx500Name& RYXASNx500Name::operator=(const RYXASNx500Name& other) {
    if (this != &other) {
        ryxasn_internal::replaceHandle(m_name, ryx::UniquePtr<X509_NAME>(copyName(other.m_name)));
    }
    return *this;
}

RYXASNx500Name::~RYXASNx500Name() {
    ryxasn_internal::replaceHandle(m_name, nullptr);
}

RYXString RYXASNx500Name::getClassName() const {
    return RYXString("RYXASNx500Name");
}

void RYXASNx500Name::decodeDER(const unsigned char* der, size_t length) {
    ryxasn_internal::replaceHandle(
        m_name, ryxasn_internal::decodeStrict<X509_NAME>(der, length, d2i_X509_NAME, "X.500 name",
                                                         __FILE__, __LINE__));
}

RYXBuffer RYXASNx500Name::getDEREncoding() const {
    return ryxasn_internal::encodeDER<X509_NAME>(m_name, i2d_X509_NAME, "X.500 name", __FILE__,
                                                 __LINE__);
}

bool RYXASNx500Name::hasValue() const {
    return m_name != nullptr;
}

int RYXASNx500Name::getRDNCount() const {
    int entries = X509_NAME_entry_count(m_name);
    if (entries <= 0) {
        return 0;
    }
    return X509_NAME_ENTRY_set(X509_NAME_get_entry(m_name, entries - 1)) + 1;
}

bool RYXASNx500Name::equals(const RYXASNx500Name& other) const {
    int result = X509_NAME_cmp(m_name, other.m_name);
    ERR_clear_error();
    return result == 0;
}

const X509_name_st* RYXASNx500Name::native() const {
    return m_name;
}
