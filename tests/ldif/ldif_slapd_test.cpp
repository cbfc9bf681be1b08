// LDIF written by the OpenLDAP command line search from a real slapd reads back
// into the attributes the entry holds, the same as a search through the client.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "labslapd.h"
#include "ldapclient.h"
#include "ldapsearchresults.h"
#include "ldiftestutil.h"

namespace {

std::string t(const std::string& text) {
    return text + std::string(1, '\0');
}

const char* const kDn = "cn=Alice Smith,dc=example,dc=com";

// Runs a shell command; true when it exits with 0.
bool run(const std::string& command) {
    int status = std::system(command.c_str());
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string quoted(const std::string& text) {
    return "'" + text + "'";
}

TEST(LdifFromSlapd, CommandLineSearchReadsBackIntoTheSameAttributes) {
    LabSlapd slapd(LabSlapd::Schema::Stock);
    slapd.start();
    slapd.addLdif(std::string("dn: ") + kDn +
                  "\n"
                  "objectClass: inetOrgPerson\n"
                  "cn: Alice Smith\n"
                  "cn: Alice\n"
                  "sn: Smith\n"
                  "mail: alice@example.com\n"
                  "description: first line\n"
                  "description: with: a colon inside\n"
                  "telephoneNumber: +1 555 0100\n"
                  "labeledURI: ldap://127.0.0.1:389/dc=example,dc=com\n");

    const std::string file = slapd.directory() + "/alice.ldif";
    const std::string command = "ldapsearch -LLL -x -o ldif_wrap=no -H " + quoted(slapd.url()) +
                                " -D " + quoted(slapd.rootDN()) + " -w " +
                                quoted(slapd.rootPassword()) + " -s base -b " + quoted(kDn) +
                                " > " + quoted(file);
    ASSERT_TRUE(run(command)) << command;

    std::ifstream in(file);
    ASSERT_TRUE(in.is_open());
    LDAPSearchResults fromFile(in);
    // The command ends its record with an empty line: one more, empty entry.
    ASSERT_EQ(2u, fromFile.size());
    LDAPEntry* entry = fromFile.next();
    const Pairs expected = {{"cn", t("Alice Smith")},
                            {"cn", t("Alice")},
                            {"description", t("first line")},
                            {"description", t("with: a colon inside")},
                            {"dn", t(kDn)},
                            {"labeledURI", t("ldap://127.0.0.1:389/dc=example,dc=com")},
                            {"mail", t("alice@example.com")},
                            {"objectClass", t("inetOrgPerson")},
                            {"sn", t("Smith")},
                            {"telephoneNumber", t("+1 555 0100")}};
    EXPECT_EQ(expected, pairsOf(*entry));
    EXPECT_EQ(0u, fromFile.next()->size());

    // The same entry through the client over the toolkit's LDAP library.
    LDAPClient client(slapd.host().c_str(), "", nullptr, slapd.port(), 3);
    client.login(slapd.rootDN().c_str(), slapd.rootPassword().c_str());
    ASSERT_EQ(1, client.search(kDn, 0, "(objectClass=*)", nullptr, 0));
    LDAPSearchResults fromSearch(client);
    ASSERT_EQ(1u, fromSearch.size());
    EXPECT_EQ(expected, pairsOf(*fromSearch.next()));
}

}  // namespace
