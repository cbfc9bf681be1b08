// libFuzzer target for the plug-in's value decoding, reached as the plug-in
// reaches it: the fake LDAP library serves the input as the one value of an
// entry, and a manager retrieves it as a CA certificate, as a revocation list
// by name, or by URL (the first byte chooses). The trace is on, so the value
// dump runs too. Every outcome is a container or the toolkit's exception; what
// the fake library handed out is all released.
#include <cstdint>
#include <memory>

#include "fakeldap_control.h"
#include "fuzzcheck.h"
#include "ldapdirmanager.h"
#include "ryxasn.h"
#include "ryxdir.h"
#include "ryxexception.h"
#include "ryxtrace.h"

namespace {

struct World {
    World() : fake(FAKELDAP_FULL), subject("cn=x") {
        RYXTrace* t = RYXTrace::s_defaultTracePtr;
        t->setFile("/dev/null");
        t->setOn(true);
        t->setComponentMask(RYX_TRACE_COMP_DIRLDAP);
        t->setLevelMask(RYX_TRACE_LEVEL_ERROR);
        RYXDIRConnectInfo::LDAP info("fuzz", 389, "", RYXBuffer(0, nullptr), 1, 0, FAKELDAP_FULL,
                                     nullptr);
        manager.reset(new LDAPDIRManager(info));
        // The client keeps its last result until the next search: hold one from here on.
        fake.fake_add_entry("cn=x");
        delete manager->getCACertificates(subject);
    }
    FakeLdap fake;
    RYXASNx500Name subject;
    std::unique_ptr<LDAPDIRManager> manager;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static World* world = new World;
    if (size == 0)
        return 0;
    const int which = data[0] % 3;
    world->fake.fake_reset();
    world->fake.fake_add_entry("cn=x");
    world->fake.fake_add_value(which == 0 ? "cACertificate" : "certificateRevocationList", data + 1,
                               size - 1);
    const int live = world->fake.fake_live_allocations();
    try {
        LDAPDIRManager& m = *world->manager;
        std::unique_ptr<RYXASNObjectContainer> c(
            which == 0   ? static_cast<RYXASNObjectContainer*>(m.getCACertificates(world->subject))
            : which == 1 ? m.getCRLs(world->subject)
                         : m.getViaURI("ldap://fuzz/cn=x"));
        for (size_t i = 0; i < c->size(); ++i)
            require(c->at(i)->getDEREncoding().getLength() != 0, "an empty object");
    } catch (const RYXException&) {
    }
    require(world->fake.fake_live_allocations() == live, "the fake library's memory leaked");
    return 0;
}
