#include "directory.h"

#include <openssl/crypto.h>

#include <sstream>

#include "password.h"
#include "ryxexception.h"
#include "ryxlibrary.h"
#include "ryxstring.h"
#include "status.h"

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

[[noreturn]] void directoryFailed(const RYXException& e) {
    std::ostringstream text;
    text << "error " << e.getError() << ": " << e.getMessage().c_str();
    fail(EXIT_DIRECTORY, text.str());
}

CertStack certificates(RYXASNCertificateContainer* container) {
    std::unique_ptr<RYXASNCertificateContainer> owned(container);
    CertStack stack(sk_X509_new_null());
    for (size_t i = 0; owned && i < owned->size(); ++i) {
        X509Ptr cert = shared(owned->getCertificate(i)->native());
        if (!stack || sk_X509_push(stack.get(), cert.get()) <= 0) {
            throw std::bad_alloc();
        }
        cert.release();
    }
    return stack;
}

CrlStack revocationLists(RYXASNCRLContainer* container) {
    std::unique_ptr<RYXASNCRLContainer> owned(container);
    CrlStack stack(sk_X509_CRL_new_null());
    for (size_t i = 0; owned && i < owned->size(); ++i) {
        CrlPtr crl = shared(owned->getCRL(i)->native());
        if (!stack || sk_X509_CRL_push(stack.get(), crl.get()) <= 0) {
            throw std::bad_alloc();
        }
        crl.release();
    }
    return stack;
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

PluginHandle::~PluginHandle() {
    RYXLibraryManager::unloadPlugin(m_handle);
}

RYXASNx500Name parseName(const std::string& text) {
    try {
        return RYXASNx500Name(text.c_str());
    } catch (const RYXException&) {
        fail(EXIT_USAGE, "bad distinguished name \"" + text + "\"");
    }
}

Directory::Directory(Settings& s) {
    if (s.promptPassword) {
        s.password = promptPassword("Enter LDAP password: ");
    }
    RYXBuffer password(static_cast<unsigned int>(s.password.text().size()),
                       reinterpret_cast<const unsigned char*>(s.password.text().data()));
    RYXDIRConnectInfo::LDAP info(s.host.c_str(), s.port, s.bindDN.c_str(), password,
                                 s.protocol == 3 ? 1 : 0, s.errorMode, s.driverPath.c_str(),
                                 nullptr);
    password.cleanse();
    s.password.clear();

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
    // The manager's code lives in the plug-in: destroy it before unloading.
    m_manager.reset();
    m_plugin.reset();
}

CertStack Directory::caCertificates(const RYXASNx500Name& subject) {
    try {
        return certificates(m_manager->getCACertificates(subject));
    } catch (const RYXException& e) {
        directoryFailed(e);
    }
}

CertStack Directory::userCertificates(const RYXASNx500Name& subject) {
    try {
        return certificates(m_manager->getUserCertificates(subject));
    } catch (const RYXException& e) {
        directoryFailed(e);
    }
}

CrlStack Directory::crls(const RYXASNx500Name& issuer) {
    try {
        return revocationLists(m_manager->getCRLs(issuer));
    } catch (const RYXException& e) {
        directoryFailed(e);
    }
}

CrlStack Directory::arls(const RYXASNx500Name& issuer) {
    try {
        return revocationLists(m_manager->getARLs(issuer));
    } catch (const RYXException& e) {
        directoryFailed(e);
    }
}

CrlStack Directory::viaUri(const std::string& url) {
    try {
        return revocationLists(m_manager->getViaURI(RYXString(url.c_str())));
    } catch (const RYXException& e) {
        directoryFailed(e);
    }
}

void Directory::validate() {
    try {
        m_manager->validateConnection();
    } catch (const RYXException& e) {
        directoryFailed(e);
    }
}

}  // namespace ryxdir
