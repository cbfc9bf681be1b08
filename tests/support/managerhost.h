// The plug-in loaded and its managers made the way the toolkit does it, with
// retrieval results as DER and trace views for the manager tests.
#ifndef MANAGERHOST_H
#define MANAGERHOST_H

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "expectthrows.h"
#include "labpki.h"
#include "ryxasn.h"
#include "ryxdir.h"
#include "ryxexception.h"
#include "ryxlibrary.h"
#include "ryxstring.h"
#include "ryxtrace.h"
#include "ryxuniqueptr.h"
#include "ryxutility.h"
#include "tracecapture.h"

RYX_MAKE_NAMED_DELETER(UnloadPlugin, void, RYXLibraryManager::unloadPlugin)

namespace managerhost {

using labpki::Bytes;

const char* const kPluginName = "ryx8drld";

// Keeps the plug-in loaded while it is alive: loading runs its registration.
struct Plugin : ryx::UniquePtr<void, ryx::UnloadPlugin> {
    Plugin() : unique_ptr(RYXLibraryManager::loadPlugin(RYXString(kPluginName))) {}
};

// Connection information as the toolkit fills it in.
struct Connection {
    std::string host = "127.0.0.1";
    int port = 389;
    std::string userDN;
    std::string password;
    int version = 1;  // LDAP version 3
    int errorMode = 0;
    std::string driverPath;

    RYXDIRConnectInfo::LDAP info() const {
        RYXBuffer secret(static_cast<unsigned int>(password.size()),
                         reinterpret_cast<const unsigned char*>(password.data()));
        return RYXDIRConnectInfo::LDAP(host.c_str(), port, userDN.c_str(), secret, version,
                                       errorMode, driverPath.c_str(), nullptr);
    }
};

// The root DN's connection to a lab server on loopback.
template <typename Server>
Connection rootOf(const Server& server, int errorMode = 0) {
    Connection c;
    c.port = server.port();
    c.userDN = server.rootDN();
    c.password = server.rootPassword();
    c.errorMode = errorMode;
    return c;
}

// Adds a CA entry (applicationProcess, pkiCA) to a lab server: its cn is the
// value of the DN's first component, followed by these attributes.
template <typename Server>
void addCa(Server& server, const std::string& dn,
           std::vector<typename Server::Attribute> attributes) {
    const std::string cn = dn.substr(3, dn.find(',') - 3);
    attributes.insert(attributes.begin(),
                      {{"objectClass", {"applicationProcess", "pkiCA"}}, {"cn", {cn}}});
    server.addEntry(dn, attributes);
}

// A manager from the entry function registered under the plug-in's name; the
// plug-in must be loaded.
inline std::unique_ptr<RYXDIRManager> makeManager(const Connection& c) {
    RYXDIRConnectInfo::LDAP info = c.info();
    return std::unique_ptr<RYXDIRManager>(static_cast<RYXDIRManager*>(
        RYXLibraryManager::callLibEntry(RYXString(kPluginName), &info)));
}

// The DER of every object of a container, in container order.
inline std::vector<Bytes> contents(const RYXASNObjectContainer* c) {
    std::vector<Bytes> out;
    for (size_t i = 0; c != nullptr && i < c->size(); ++i) {
        const RYXBuffer der = c->at(i)->getDEREncoding();
        out.emplace_back(der.getValue(), der.getValue() + der.getLength());
    }
    return out;
}

// The DER of what one retrieval returns: by name ('c' CA certificates, 'u' user
// certificates, 'r' revocation lists, 'a' authority lists) or by URL ('l').
inline std::vector<Bytes> fetch(RYXDIRManager& m, char kind, const std::string& target) {
    std::unique_ptr<RYXASNObjectContainer> c;
    if (kind == 'l') {
        c.reset(m.getViaURI(RYXString(target.c_str())));
    } else if (const RYXASNx500Name n(target.c_str()); kind == 'c' || kind == 'u') {
        c.reset(kind == 'c' ? m.getCACertificates(n) : m.getUserCertificates(n));
    } else {
        c.reset(kind == 'r' ? m.getCRLs(n) : m.getARLs(n));
    }
    EXPECT_NE(c, nullptr) << kind << " " << target;
    return contents(c.get());
}

inline std::string bytes(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

using tracetest::errorRec;
using tracetest::Record;
using tracetest::throwsError;

// The record of one value's hex dump: the heading, a line break and the host's
// dump of at most the first 256 bytes.
inline Record dump(const std::string& heading, const std::string& value) {
    const size_t n = value.size() < 256 ? value.size() : 256;
    std::ostringstream os;
    os << heading << '\n';
    RYXUtility::hexdump(os, "HEX",
                        RYXBuffer(static_cast<unsigned int>(n),
                                  reinterpret_cast<const unsigned char*>(value.data())));
    return errorRec(os.str());
}

// The whole trace captured while alive, with the views the manager tests use.
class TraceCapture : public tracetest::TraceCapture {
  public:
    // Error-level records of the plug-in's component whose text does not begin
    // with prefix (leaves out the value dumps when given their heading).
    std::vector<Record> messagesWithout(const std::string& prefix) const {
        return where([&prefix](const Record& r) {
            return r.level == RYX_TRACE_LEVEL_ERROR && r.component == RYX_TRACE_COMP_DIRLDAP &&
                   r.text.compare(0, prefix.size(), prefix) != 0;
        });
    }
    // Entry records with exactly this name.
    size_t entries(const std::string& name) const {
        return where([&name](const Record& r) {
                   return r.level == RYX_TRACE_LEVEL_ENTRY && r.text == name;
               })
            .size();
    }
};

}  // namespace managerhost

#endif
