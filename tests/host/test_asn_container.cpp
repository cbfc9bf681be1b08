// Containers of ASN.1 objects: ownership, bounds and typed access.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "expectthrows.h"
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

::testing::AssertionResult invalid(const std::function<void()>& f) {
    return tracetest::throwsError<RYXException>(f, RYX_ERR_INVALID_ARGUMENT);
}

TEST(ASNContainer, AnOwnerDestroysItsObjectsAReferrerLeavesThemAlone) {
    Probe a, b;
    {
        RYXASNObjectContainer owner(RYX_OWNER), referrer(RYX_NOT_OWNER);
        for (int i = 0; i < 3; ++i) {
            owner.push_back(new Probe);
        }
        owner.clear();
        EXPECT_TRUE(owner.empty());
        EXPECT_EQ(Probe::s_live, 2);
        owner.push_back(new Probe);
        referrer.push_back(&a);
        referrer.push_back(&b);
        EXPECT_EQ(referrer.at(1), &b);
        EXPECT_TRUE(invalid([&] { referrer.at(2); }));
        EXPECT_TRUE(invalid([&] { referrer.push_back(nullptr); }));
        EXPECT_EQ(referrer.size(), 2u);
    }
    EXPECT_EQ(Probe::s_live, 2);
}

TEST(ASNContainer, TypedAccessRefusesObjectsOfTheOtherType) {
    auto* cert = new RYXASNx509Certificate(RYXASN_SECURITY_NONE);
    auto* crl = new RYXASNCertificateList(RYXASN_SECURITY_NONE);
    // Through the base class, as the host hands containers out.
    std::unique_ptr<RYXASNObjectContainer> owner(new RYXASNCertificateContainer(RYX_OWNER));
    owner->push_back(cert);
    owner->push_back(crl);
    RYXASNCRLContainer crls(RYX_NOT_OWNER);
    crls.push_back(crl);
    crls.push_back(cert);
    auto& certs = static_cast<RYXASNCertificateContainer&>(*owner);
    EXPECT_EQ(certs.getCertificate(0), cert);
    EXPECT_EQ(crls.getCRL(0), crl);
    EXPECT_TRUE(invalid([&] { certs.getCertificate(1); }));
    EXPECT_TRUE(invalid([&] { certs.getCertificate(2); }));
    EXPECT_TRUE(invalid([&] { crls.getCRL(1); }));
}

}  // namespace
