// The directory as ryxdir reaches it: the plug-in loaded by the library
// manager, its registered entry function called with the connection
// information, and the manager it returns asked for objects. Failures become
// one-line messages with their exit status.
#ifndef RYXDIR_DIRECTORY_H
#define RYXDIR_DIRECTORY_H

#include <memory>
#include <string>

#include "ryxasn.h"
#include "ryxdir.h"
#include "ryxopensslptr.h"
#include "ryxpkix.h"
#include "settings.h"
#include "terminal.h"

namespace ryxdir {

// For a process that ends after its command: plug-in handles and directories
// destroyed from now on leave the manager and the loaded libraries to the
// process's exit, which releases them at once, instead of closing and
// unloading them one by one.
void keepLoadedUntilExit();

// Keeps the plug-in loaded while it is alive.
class PluginHandle {
  public:
    PluginHandle();  // fails with status 3
    ~PluginHandle();
    PluginHandle(const PluginHandle&) = delete;
    PluginHandle& operator=(const PluginHandle&) = delete;
    void* get() const { return m_handle; }

  private:
    void* m_handle;
};

// The toolkit's containers, owned.
using Certificates = std::unique_ptr<RYXASNCertificateContainer>;
using RevocationLists = std::unique_ptr<RYXASNCRLContainer>;

// A distinguished name from its LDAP text; a usage failure when malformed.
RYXASNx500Name parseName(const std::string& text);

class Directory {
  public:
    // Nothing is loaded until open() or the first retrieval.
    explicit Directory(Settings& settings) : m_settings(settings) {}
    ~Directory();
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;

    // Loads the plug-in and makes its manager, asking for the password first
    // when -W was given. Fails with status 3 when the plug-in cannot be set up,
    // naming the reason. Does nothing when already open.
    void open();
    RYXDIRManager& manager() {
        open();
        return *m_manager;
    }
    // The directory's raw values, for what the manager cannot decode (valid
    // after open()).
    RYXPKIXValueSource* values() { return m_values.get(); }

    // The manager's retrievals, the objects as the toolkit decoded them (a
    // revocation list is not yet an OpenSSL object); a directory failure ends
    // the command with status 4 ("error CODE: message").
    Certificates caCertificateObjects(const RYXASNx500Name& subject);
    Certificates userCertificateObjects(const RYXASNx500Name& subject);
    RevocationLists crlObjects(const RYXASNx500Name& issuer);
    RevocationLists arlObjects(const RYXASNx500Name& issuer);
    RevocationLists uriObjects(const std::string& url);
    // Binds and unbinds; fails with status 4.
    void validate();

  private:
    Settings& m_settings;
    std::unique_ptr<PluginHandle> m_plugin;
    std::unique_ptr<RYXDIRManager> m_manager;
    std::unique_ptr<RYXPKIXValueSource> m_values;
    std::unique_ptr<Progress> m_progress;  // the searches of this thread, on a terminal
};

}  // namespace ryxdir

#endif
