// X.500 names from LDAP strings and DER, and names as text.
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/x509.h>

#include <string>
#include <vector>

#include "expectthrows.h"
#include "labpki.h"
#include "ryxasn.h"
#include "ryxexception.h"

namespace {

std::string print(const RYXASNx500Name& name, bool reverse = false,
                  RYXASNStrRepType type = RYXASN_STRREP_RFC2253) {
    RYXString s = RYXASNUtility::getRFC2253String(name, reverse, type);
    return std::string(s.data(), s.length());
}

std::vector<unsigned char> der(const RYXASNx500Name& name) {
    RYXBuffer b = name.getDEREncoding();
    return std::vector<unsigned char>(b.getValue(), b.getValue() + b.getLength());
}

struct NameCase {
    const char* input;
    const char* rfc2253;  // what OpenSSL prints for it
};

const NameCase kNames[] = {
    {"CN=Alice,O=Org,C=US", "CN=Alice,O=Org,C=US"},
    {"cn=a\\,b+uid=x,o=Org,c=US", "CN=a\\,b+UID=x,O=Org,C=US"},
    {"uid=x+cn=y+ou=z,o=Org", "UID=x+CN=y+OU=z,O=Org"},
    {"cn=\\#hash,o=Org", "CN=\\#hash,O=Org"},
    {"cn=not#first,o=Org", "CN=not#first,O=Org"},
    {"cn=trailing\\ ,o=Org", "CN=trailing\\ ,O=Org"},
    {"cn=\\ leading,o=Org", "CN=\\ leading,O=Org"},
    {"cn=in side,o=Org", "CN=in side,O=Org"},
    {"cn=J\\C3\\BCrgen,o=Org", "CN=J\\C3\\BCrgen,O=Org"},
    {"cn=J\xC3\xBCrgen,o=Org", "CN=J\\C3\\BCrgen,O=Org"},
    {"cn=a\\\"b\\\\c\\<d\\>e\\;f\\=g\\+h", "CN=a\\\"b\\\\c\\<d\\>e\\;f=g\\+h"},
    {"cn=a=b", "CN=a=b"},
    {"o=a\\+b;c=US", "O=a\\+b,C=US"},
    {"cn=\"quoted, with +;\",o=Org", "CN=quoted\\, with \\+\\;,O=Org"},
    {"uid=jdoe , ou = People ,o=Org", "UID=jdoe,OU=People,O=Org"},
    {"2.5.4.3=foo,2.5.4.10=Org", "CN=foo,O=Org"},
    {"OID.2.5.4.3=foo", "CN=foo"},
    {"1.2.3.4=foo,o=Org", "1.2.3.4=#0C03666F6F,O=Org"},
    {"1.2.3.4=#0C03666F6F,o=Org", "1.2.3.4=#0C03666F6F,O=Org"},
    {"cn=#0C03666F6F", "CN=foo"},
    {"cn=#1303666F6F", "CN=foo"},
    {"dc=example,dc=com", "DC=example,DC=com"},
    {"emailAddress=a@b.example,cn=x", "emailAddress=a@b.example,CN=x"},
    {"email=a@b.example", "emailAddress=a@b.example"},
    {"street=1 Main St,l=Town,st=CA,c=US", "street=1 Main St,L=Town,ST=CA,C=US"},
    {"serialNumber=123,commonName=x,COMMONNAME=y,Cn=z", "serialNumber=123,CN=x,CN=y,CN=z"},
    {"cn=line\\0Abreak", "CN=line\\0Abreak"},
    {"", ""},
    {"   ", ""},
};

// OpenSSL's RFC 2253 text for each, which reads back as the same name.
TEST(ASNName, PrintsAsOpenSSLDoesAndReadsBackItsText) {
    for (const NameCase& c : kNames) {
        RYXASNx500Name first(c.input);
        EXPECT_EQ(print(first), c.rfc2253) << c.input;
        EXPECT_EQ(ERR_peek_error(), 0u) << c.input;
        RYXASNx500Name second(print(first).c_str());
        EXPECT_EQ(print(second), c.rfc2253) << c.input;
        EXPECT_TRUE(second.equals(first)) << c.input;
        // A value given as "#" and its BER keeps its string type only in DER:
        // the text holds the value itself, which reads back as UTF8String.
        if (std::string(c.input).find("=#") == std::string::npos) {
            EXPECT_EQ(der(second), der(first)) << c.input;
        }
    }
}

// The other forms are OpenSSL's; RDNs, not values, are counted; equality is
// OpenSSL's canonical one; copies are independent.
TEST(ASNName, OtherFormsCountsEqualityAndCopies) {
    const RYXASNx500Name name("cn=x,o=Org,c=US");
    const struct {
        bool reverse;
        RYXASNStrRepType type;
        const char* text;
    } forms[] = {{true, RYXASN_STRREP_RFC2253, "C=US,O=Org,CN=x"},
                 {false, RYXASN_STRREP_ONELINE, "/C=US/O=Org/CN=x"},
                 {true, RYXASN_STRREP_ONELINE, "/CN=x/O=Org/C=US"},
                 {false, RYXASN_STRREP_RFC1779, "CN=x, O=Org, C=US"}};
    for (const auto& f : forms) {
        EXPECT_EQ(print(name, f.reverse, f.type), f.text);
    }
    const std::string multi = print(name, false, RYXASN_STRREP_MULTILINE);
    EXPECT_LT(multi.find("countryName"), multi.find("commonName")) << multi;
    EXPECT_THROW(print(name, false, static_cast<RYXASNStrRepType>(3)), RYXException);
    EXPECT_EQ(RYXASNx500Name().getRDNCount(), 0);
    EXPECT_EQ(RYXASNx500Name("cn=a+uid=x,o=Org,c=US").getRDNCount(), 3);
    EXPECT_EQ(RYXASNx500Name("uid=x+cn=y+ou=z").getRDNCount(), 1);
    EXPECT_TRUE(RYXASNx500Name("CN=Alice,O=Org").equals(RYXASNx500Name("cn=alice, o=ORG")));
    EXPECT_FALSE(RYXASNx500Name("CN=Alice,O=Org").equals(RYXASNx500Name("CN=Bob,O=Org")));
    EXPECT_FALSE(RYXASNx500Name("CN=Alice,O=Org").equals(RYXASNx500Name("O=Org,CN=Alice")));
    RYXASNx500Name a("cn=a,o=Org");
    RYXASNx500Name b(a), c;
    c = a;
    a = RYXASNx500Name("cn=other");
    RYXASNx500Name& self = a;
    a = self;
    EXPECT_EQ(print(a) + " " + print(b) + " " + print(c), "CN=other CN=a,O=Org CN=a,O=Org");
    EXPECT_NE(b.native(), a.native());
}

TEST(ASNName, DecodesDERStrictly) {
    RYXASNx500Name name("cn=a,o=Org");
    std::vector<unsigned char> encoded = der(RYXASNx500Name("cn=b+uid=u,o=Org"));
    name.decodeDER(encoded.data(), encoded.size());
    // DER sorts the members of a multi-valued RDN; OpenSSL prints them reversed.
    EXPECT_EQ(print(name), "UID=u+CN=b,O=Org");

    std::vector<unsigned char> trailing = encoded;
    trailing.push_back(0);
    std::vector<unsigned char> truncated(encoded.begin(), encoded.end() - 1);
    for (const auto& bad : {trailing, truncated, std::vector<unsigned char>{0x02, 0x01, 0x01},
                            std::vector<unsigned char>{}}) {
        EXPECT_TRUE(tracetest::throwsError<RYXASNException>(
            [&] { name.decodeDER(bad.data(), bad.size()); }, RYX_ERR_ASN_DECODE))
            << labpki::toHex(bad);
        EXPECT_EQ(print(name), "UID=u+CN=b,O=Org");
    }
    EXPECT_EQ(ERR_peek_error(), 0u);

    RYXASNx500Name empty;
    EXPECT_TRUE(empty.hasValue());
    EXPECT_EQ(der(empty), (std::vector<unsigned char>{0x30, 0x00}));
}

// No '=', empty RDNs, no or unknown types, bad object identifiers, bad escapes
// and quotes, unescaped specials, '#' values that are no BER of one string,
// and values outside OpenSSL's limits for their attribute and string type.
TEST(ASNName, RejectsBadText) {
    // clang-format off
    const char* bad[] = {
        "cn", "cn=a,", "cn=a+", ",cn=a", "cn=a,,o=b", "=a", "foo=bar", "c n=x", "1.2..3=x", "1.=x",
        "12=x", "oid.=x", "cn.x=y", "cn=a\\", "cn=a\\zz", "cn=a\\4", "cn=\"abc", "cn=\"abc\"x",
        "cn=a\"b", "cn=a<b", "cn=#", "cn=#0C0366", "cn=#0C03666F6F6F", "cn=#zz", "cn=#020101",
        "cn=#0C03666F6Fx", "c=USA", "c=#1303555341", "cn=#0C00", "c=#1E040041040A", "cn=\\FF\\FE"};
    // clang-format on
    for (const char* text : bad) {
        try {
            RYXASNx500Name name(text);
            ADD_FAILURE() << "accepted \"" << text << "\" as " << print(name);
        } catch (const RYXASNException& e) {
            EXPECT_EQ(e.getError(), RYX_ERR_ASN_NAME) << text;
            EXPECT_NE(std::string(e.what()).find("Invalid distinguished name"), std::string::npos)
                << e.what();
        }
        EXPECT_EQ(ERR_peek_error(), 0u) << text;
    }
    EXPECT_THROW(RYXASNx500Name(static_cast<const char*>(nullptr)), RYXASNException);
    // The message names the fault and where it is.
    try {
        RYXASNx500Name name("cn=ok,foo=bar");
    } catch (const RYXASNException& e) {
        EXPECT_NE(std::string(e.what()).find("unknown attribute type 'foo' at offset 6"),
                  std::string::npos)
            << e.what();
    }
}

}  // namespace
