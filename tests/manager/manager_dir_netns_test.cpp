// In a private network namespace, slapd on 127.0.0.1:389 under dc=localhost:
// host-less URLs and the "URI" host reach it by default. The managers' password
// is wrong, so any bind would fail.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "errorcodes.h"
#include "labpki.h"
#include "labslapd.h"
#include "managerhost.h"

using namespace managerhost;

namespace {

TEST(ManagerNetns, HostlessUrlsAndTheUriHostNeedNoBind) {
    LabSlapd slapd(LabSlapd::Schema::OctetString, "dc=localhost", 389);
    slapd.start();
    const char* const ca = "cn=Local CA,dc=localhost";
    const std::string hostless = "ldap:///cn=Local CA,dc=localhost?certificateRevocationList";
    const std::string completed =
        "ldap://localhost/cn=Local CA,dc=localhost?certificateRevocationList";
    const labpki::Authority authority = labpki::Authority::root(ca);
    const std::vector<Bytes> certs = {authority.certificateDER()}, crls = {authority.crl()};
    addCa(slapd, ca,
          {{"cACertificate", {bytes(certs[0])}}, {"certificateRevocationList", {bytes(crls[0])}}});
    Plugin plugin;
    const auto manager = [&](const char* host) {
        Connection c = rootOf(slapd);
        c.host = host;
        c.password = "wrong";
        return makeManager(c);
    };

    // Searched on the completed URL, without a bind; a search by name after it
    // uses the URL's connection.
    std::unique_ptr<RYXDIRManager> m = manager("127.0.0.1");
    for (const std::string& url : {hostless, completed}) {
        TraceCapture trace;
        EXPECT_EQ(fetch(*m, 'l', url), crls) << url;
        EXPECT_EQ(trace.entries("LDAPClient::searchByURI(" + completed + " )"), 1u) << url;
    }
    {
        TraceCapture trace;
        EXPECT_EQ(fetch(*m, 'c', ca), certs);
        EXPECT_EQ(trace.entries("login"), 0u);
        EXPECT_EQ(trace.messagesWithout("Data Read Trace"), std::vector<Record>{});
    }
    // Validation unbinds that connection; the next search logs in and is refused.
    EXPECT_TRUE(m->validateConnection());
    EXPECT_TRUE(
        throwsError<RYXDIRException>([&] { fetch(*m, 'c', ca); }, ryxcode::kBadCredentials));

    // "URI" as the host: the LDAP library gets no host (the default host on the
    // manager's port) and no bind is made. Any other capitalisation is an
    // ordinary host name, which does not resolve.
    m = manager("URI");
    EXPECT_TRUE(m->validateConnection());
    EXPECT_EQ(fetch(*m, 'c', ca), certs);
    EXPECT_EQ(fetch(*m, 'l', hostless), crls);
    EXPECT_TRUE(throwsError<RYXDIRException>([&] { manager("Uri")->validateConnection(); },
                                             ryxcode::kNoConnection));
}

}  // namespace
