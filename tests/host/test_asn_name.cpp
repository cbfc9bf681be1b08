// X.500 names from LDAP strings and DER, and names as text.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/x509.h>

#include <string>
#include <vector>

#include "expectthrows.h"
#include "labpki.h"
#include "runprogram.h"
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

// The cases of names.tsv of one kind: "ok" with a text and what OpenSSL prints
// for it, or "bad" with a text that is refused and a part of its message.
std::vector<std::vector<std::string>> nameCases(const std::string& kind) {
    std::vector<std::vector<std::string>> cases;
    for (auto& c : spawntest::readCases(RYX_TEST_DATA_DIR "/names.tsv")) {
        if (c[0] == kind) {
            c.resize(3);  // most "bad" rows have two fields
            cases.push_back(c);
        }
    }
    EXPECT_GT(cases.size(), 20u) << kind << " cases in " << RYX_TEST_DATA_DIR "/names.tsv";
    return cases;
}

// OpenSSL's RFC 2253 text for each, which reads back as the same name.
TEST(ASNName, PrintsAsOpenSSLDoesAndReadsBackItsText) {
    for (const auto& c : nameCases("ok")) {
        const std::string& input = c[1];
        RYXASNx500Name first(input.c_str());
        EXPECT_EQ(print(first), c[2]) << input;
        EXPECT_EQ(ERR_peek_error(), 0u) << input;
        RYXASNx500Name second(print(first).c_str());
        EXPECT_EQ(print(second), c[2]) << input;
        EXPECT_TRUE(second.equals(first)) << input;
        // A value given as "#" and its BER keeps its string type only in DER:
        // the text holds the value itself, which reads back as UTF8String.
        if (input.find("=#") == std::string::npos) {
            EXPECT_EQ(der(second), der(first)) << input;
        }
    }
}

// The other forms are OpenSSL's ("form" rows of names.tsv); RDNs, not values,
// are counted; equality is OpenSSL's canonical one; copies are independent.
TEST(ASNName, OtherFormsCountsEqualityAndCopies) {
    const RYXASNx500Name name("cn=x,o=Org,c=US");
    for (const auto& f : spawntest::readCases(RYX_TEST_DATA_DIR "/names.tsv")) {
        if (f[0] == "form") {
            const auto type = static_cast<RYXASNStrRepType>(std::stoi(f.at(2)));
            EXPECT_EQ(print(name, f[1] == "reversed", type), f.at(3));
        }
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
    for (const auto& c : nameCases("bad")) {
        const char* text = c[1].c_str();
        try {
            RYXASNx500Name name(text);
            ADD_FAILURE() << "accepted \"" << text << "\" as " << print(name);
        } catch (const RYXASNException& e) {
            EXPECT_EQ(e.getError(), RYX_ERR_ASN_NAME) << text;
            EXPECT_THAT(e.what(), ::testing::HasSubstr("Invalid distinguished name"));
            EXPECT_THAT(e.what(), ::testing::HasSubstr(c[2]));  // the fault and where it is
        }
        EXPECT_EQ(ERR_peek_error(), 0u) << text;
    }
    EXPECT_THROW(RYXASNx500Name(static_cast<const char*>(nullptr)), RYXASNException);
}

}  // namespace
