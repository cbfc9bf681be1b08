// Containers of ASN.1 objects: ownership and typed access.
#include <gtest/gtest.h>

#include "labpki.h"
#include "ryxasn.h"
#include "ryxexception.h"

namespace {

// An object that counts the live instances.
class Probe : public RYXASNObject {
  public:
    static int s_live;
    Probe() { ++s_live; }
    ~Probe() override { --s_live; }
    RYXString getClassName() const override { return RYXString("Probe"); }
    void decodeDER(const unsigned char*, size_t) override {}
    RYXBuffer getDEREncoding() const override { return RYXBuffer(); }
    bool hasValue() const override { return true; }
};
int Probe::s_live = 0;

int errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const RYXException& e) {
        return e.getError();
    }
    return 0;
}

TEST(ASNContainer, AnOwnerDestroysItsObjects) {
    Probe::s_live = 0;
    {
        RYXASNObjectContainer container(RYX_OWNER);
        EXPECT_EQ(container.getOwnership(), RYX_OWNER);
        EXPECT_TRUE(container.empty());
        for (int i = 0; i < 5; ++i) {
            container.push_back(new Probe);
        }
        EXPECT_EQ(container.size(), 5u);
        EXPECT_EQ(Probe::s_live, 5);
        container.clear();
        EXPECT_EQ(Probe::s_live, 0);
        EXPECT_TRUE(container.empty());
        container.push_back(new Probe);
        container.push_back(new Probe);
    }
    EXPECT_EQ(Probe::s_live, 0);
}

TEST(ASNContainer, AReferrerLeavesThemAlone) {
    Probe::s_live = 0;
    Probe a;
    Probe b;
    {
        RYXASNObjectContainer container(RYX_NOT_OWNER);
        container.push_back(&a);
        container.push_back(&b);
        EXPECT_EQ(container.at(0), &a);
        EXPECT_EQ(container.at(1), &b);
        container.clear();
        container.push_back(&a);
    }
    EXPECT_EQ(Probe::s_live, 2);
}

TEST(ASNContainer, IndexAndNullChecks) {
    RYXASNObjectContainer container(RYX_OWNER);
    EXPECT_EQ(errorOf([&] { container.at(0); }), RYX_ERR_INVALID_ARGUMENT);
    container.push_back(new Probe);
    EXPECT_EQ(errorOf([&] { container.at(1); }), RYX_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(errorOf([&] { container.push_back(nullptr); }), RYX_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(container.size(), 1u);
}

TEST(ASNContainer, TypedAccess) {
    labpki::Authority ca = labpki::Authority::root("cn=Container CA");
    labpki::Bytes certDer = ca.issue("cn=Leaf", 7);
    labpki::Bytes crlDer = ca.crl();

    RYXASNCertificateContainer certs(RYX_OWNER);
    auto* cert = new RYXASNx509Certificate(RYXASN_SECURITY_NONE);
    certs.push_back(cert);
    cert->decodeDER(certDer.data(), certDer.size());
    auto* crl = new RYXASNCertificateList(RYXASN_SECURITY_NONE);
    certs.push_back(crl);
    crl->decodeDER(crlDer.data(), crlDer.size());

    EXPECT_EQ(certs.getCertificate(0), cert);
    EXPECT_EQ(std::string(certs.getCertificate(0)->getSerialNumber().c_str()), "07");
    EXPECT_EQ(errorOf([&] { certs.getCertificate(1); }), RYX_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(errorOf([&] { certs.getCertificate(2); }), RYX_ERR_INVALID_ARGUMENT);

    RYXASNCRLContainer crls(RYX_NOT_OWNER);
    crls.push_back(crl);
    crls.push_back(cert);
    EXPECT_EQ(crls.getCRL(0), crl);
    EXPECT_EQ(crls.getCRL(0)->getRevokedCount(), 0);
    EXPECT_EQ(errorOf([&] { crls.getCRL(1); }), RYX_ERR_INVALID_ARGUMENT);

    // Through the base class, as the host hands containers out.
    RYXASNObjectContainer* base = new RYXASNCRLContainer(RYX_OWNER);
    base->push_back(new RYXASNCertificateList(RYXASN_SECURITY_NONE));
    delete base;
}

}  // namespace
