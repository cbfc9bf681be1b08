// libFuzzer target for the plug-in's value decoding, reached as the plug-in
// reaches it: the fake LDAP library serves the input as the one value of an
// entry, and a manager retrieves it as a CA certificate, as a revocation list
// by name, or by URL (the first byte chooses). The trace is on, so the value
// dump runs too. Every outcome is a container or the toolkit's exception; what
// the fake library handed out is all released.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "fakeldap_control.h"
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

void checkAll(const RYXASNObjectContainer* c) {
    for (size_t i = 0; i < c->size(); ++i) {
        if (c->at(i)->getDEREncoding().getLength() == 0)
            std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static World* world = new World;
    if (size == 0)
        return 0;
    const int which = data[0] % 3;
    const char* attribute = which == 0 ? "cACertificate" : "certificateRevocationList";
    world->fake.fake_reset();
    world->fake.fake_add_entry("cn=x");
    world->fake.fake_add_value(attribute, data + 1, size - 1);
    const int live = world->fake.fake_live_allocations();
    try {
        LDAPDIRManager& m = *world->manager;
        if (which == 0) {
            std::unique_ptr<RYXASNCertificateContainer> c(m.getCACertificates(world->subject));
            checkAll(c.get());
        } else if (which == 1) {
            std::unique_ptr<RYXASNCRLContainer> c(m.getCRLs(world->subject));
            checkAll(c.get());
        } else {
            std::unique_ptr<RYXASNCRLContainer> c(m.getViaURI("ldap://fuzz/cn=x"));
            checkAll(c.get());
        }
    } catch (const RYXException&) {
    }
    if (world->fake.fake_live_allocations() != live)
        std::abort();
    return 0;
}
