#include "directory.h"

#include <openssl/crypto.h>

#include <cstdlib>
#include <sstream>

#include "password.h"
#include "ryxexception.h"
#include "ryxldapdiag.h"
#include "ryxlibrary.h"
#include "ryxstring.h"
#include "status.h"
#include "terminal.h"

namespace ryxdir {

namespace {

const char* const kPluginName = "ryx8drld";
// The plug-in's code for an LDAP library that cannot be loaded or lacks a function.
const long kLdapLibraryError = 576001;

// Why the LDAP library at path cannot serve the plug-in, in the loader's words.
std::string whyLibraryFails(const std::string& path) {
    void* handle = nullptr;
    if (ryx_load_library(path.c_str(), &handle) != 0) {
        return std::string("cannot load LDAP library \"") + path + "\": " + ryx_library_error();
    }
    ryx_free_library(handle);
    return "LDAP library \"" + path + "\" lacks functions of the LDAP C API";
}

bool g_keepLoaded = false;

// The plug-in's code for a failed search, and the LDAP code for a base that
// does not exist.
const long kSearchFailed = 576004;
const int kNoSuchObject = 32;

// A toolkit failure as one line, "error CODE: message". For a base that does
// not exist the message names the DN searched and the part of it the server
// found, which the LDAP library kept for this thread.
std::string failureText(const RYXException& e) {
    std::ostringstream text;
    text << "error " << e.getError() << ": ";
    int code = 0;
    const char* base = nullptr;
    const char* matched = nullptr;
    if (e.getError() == kSearchFailed && ryx_ldap_last_miss(&code, &base, &matched) == 1 &&
        code == kNoSuchObject) {
        text << "no such object: \"" << base << "\" (the server matched "
             << (*matched != '\0' ? "\"" + std::string(matched) + "\"" : "nothing") << ")";
    } else {
        text << e.getMessage().c_str();
    }
    return text.str();
}

// A manager call whose toolkit failure ends the command with status 4.
template <typename Call>
auto guarded(Call call) -> decltype(call()) {
    try {
        return call();
    } catch (const RYXException& e) {
        fail(EXIT_DIRECTORY, failureText(e));
    }
}

}  // namespace

PluginHandle::PluginHandle() {
    try {
        m_handle = RYXLibraryManager::loadPlugin(RYXString(kPluginName));
    } catch (const RYXException& e) {
        fail(EXIT_PLUGIN,
             std::string("cannot load the directory plug-in: ") + e.getMessage().c_str());
    }
}

void keepLoadedUntilExit() {
    g_keepLoaded = true;
}

PluginHandle::~PluginHandle() {
    if (!g_keepLoaded) {
        RYXLibraryManager::unloadPlugin(m_handle);
    }
}

RYXASNx500Name parseName(const std::string& text) {
    try {
        return RYXASNx500Name(text.c_str());
    } catch (const RYXException&) {
        fail(EXIT_USAGE, "bad distinguished name \"" + text + "\"");
    }
}

void Directory::open() {
    if (m_manager) {
        return;
    }
    ConnectionSettings& s = m_settings.connection;
    settleServer(s);
    if (s.promptPassword) {
        s.password = promptPassword("Enter LDAP password: ");
    }
    RYXBuffer password(static_cast<unsigned int>(s.password.text().size()),
                       reinterpret_cast<const unsigned char*>(s.password.text().data()));
    RYXDIRConnectInfo::LDAP info(s.host.c_str(), s.port, s.bindDN.c_str(), password,
                                 s.protocol == 3 ? 1 : 0, s.errorMode, s.driverPath.c_str(),
                                 nullptr);
    password.cleanse();
    m_values = std::make_unique<RYXPKIXLdapValueSource>(info);
    s.password.clear();

    configureLdapLibrary(s);
    m_progress = std::make_unique<Progress>();
    m_plugin.reset(new PluginHandle);
    try {
        m_manager.reset(static_cast<RYXDIRManager*>(
            RYXLibraryManager::callLibEntry(RYXString(kPluginName), &info)));
    } catch (const RYXException& e) {
        std::string why = e.getMessage().c_str();
        if (e.getError() == kLdapLibraryError && !s.driverPath.empty()) {
            why = whyLibraryFails(s.driverPath);
        } else if (why.empty()) {
            why = "error " + std::to_string(e.getError());
        }
        fail(EXIT_PLUGIN, "cannot set up the directory plug-in: " + why);
    }
    if (!m_manager) {
        fail(EXIT_PLUGIN, "the directory plug-in returned no manager");
    }
}

Directory::~Directory() {
    if (g_keepLoaded) {
        m_manager.release();  // its connection closes when the process exits
        return;
    }
    // The manager's code lives in the plug-in: destroy it before unloading.
    m_manager.reset();
    m_plugin.reset();
}

Certificates Directory::caCertificateObjects(const RYXASNx500Name& subject) {
    open();
    return guarded([&] { return Certificates(m_manager->getCACertificates(subject)); });
}

Certificates Directory::userCertificateObjects(const RYXASNx500Name& subject) {
    open();
    return guarded([&] { return Certificates(m_manager->getUserCertificates(subject)); });
}

RevocationLists Directory::crlObjects(const RYXASNx500Name& issuer) {
    open();
    return guarded([&] { return RevocationLists(m_manager->getCRLs(issuer)); });
}

RevocationLists Directory::arlObjects(const RYXASNx500Name& issuer) {
    open();
    return guarded([&] { return RevocationLists(m_manager->getARLs(issuer)); });
}

RevocationLists Directory::uriObjects(const std::string& url) {
    open();
    return guarded([&] { return RevocationLists(m_manager->getViaURI(RYXString(url.c_str()))); });
}

void Directory::validate() {
    open();
    guarded([&] { m_manager->validateConnection(); });
}

}  // namespace ryxdir
