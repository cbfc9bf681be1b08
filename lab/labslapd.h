// A throwaway slapd (tests, the demo directory, benchmarks): a real server in a fresh temporary
// folder on a loopback port, started in the foreground as a child of the test
// process (it dies with the test, even when the test crashes). The server is
// tied to the thread that started it: start() on a thread that then exits
// takes the server down with it, so start fixtures on the test's own thread.
#ifndef LABSLAPD_H
#define LABSLAPD_H

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

class LabSlapd {
  public:
    enum class Schema {
        // Stock schema: the certificate and revocation-list attribute types
        // need ";binary" when stored and come back as "name;binary".
        Stock,
        // Our schema file in which those attribute types have the octet-string
        // syntax: values are stored and returned under the plain names (and
        // may hold text such as "{ASN}" hex).
        OctetString
    };

    // One attribute of an entry, values as raw bytes (may hold NULs).
    struct Attribute {
        std::string name;
        std::vector<std::string> values;
    };

    // port 0 picks a free loopback port at the first start(); any other port is
    // used as it is (e.g. 389 inside a private network namespace).
    // Nothing runs until start().
    explicit LabSlapd(Schema schema = Schema::Stock, std::string suffix = "dc=example,dc=com",
                      int port = 0);

    // A server that outlives this process (the demo directory): slapd runs from
    // `directory` (created when missing) in a session of its own, with no tie to
    // this process and none of its descriptors beyond 0-2. While this process
    // lives, stop() still stops it; the destructor leaves the server running and
    // its folder in place. stopDetached() stops it later from any process.
    struct Detached {
        std::string directory;
    };
    LabSlapd(Detached detached, Schema schema, std::string suffix = "dc=example,dc=com",
             int port = 0);
    // The running slapd of a detached server in `directory`, -1 when none runs:
    // the pid recorded at launch, taken only while that process is alive and
    // is a slapd reading that folder's configuration.
    static pid_t detachedPid(const std::string& directory);
    // Stops the slapd of a detached server: SIGTERM, SIGKILL after a few
    // seconds. False when none was running; throws std::runtime_error when it
    // cannot be stopped.
    static bool stopDetached(const std::string& directory);

    // Folder of our octet-string schema file (default: the one the library was
    // built with). Set before the first start().
    void setSchemaDirectory(std::string directory) { m_labSchemaDir = std::move(directory); }
    // Stops slapd (if running) and removes the temporary folder.
    ~LabSlapd();
    LabSlapd(const LabSlapd&) = delete;
    LabSlapd& operator=(const LabSlapd&) = delete;

    // Starts slapd and waits until an anonymous search of the root DSE answers.
    // The first start also creates the suffix entry (objectClass chosen from the
    // suffix's first RDN: dc -> domain, o -> organization, ou ->
    // organizationalUnit, c -> country, anything else -> extensibleObject).
    // Throws std::runtime_error (with the tail of slapd's log) on failure.
    void start();
    // SIGTERM, wait; SIGKILL after a few seconds. No-op when not running.
    void stop();
    // stop() then start() on the same port with the same data.
    void restart();
    bool running() const;
    // Process id of the running slapd, -1 when none.
    pid_t pid() const;

    int port() const { return m_port; }
    std::string host() const { return "127.0.0.1"; }
    // "127.0.0.1:PORT"
    std::string hostPort() const;
    // "ldap://127.0.0.1:PORT"  (no trailing slash)
    std::string url() const;
    const std::string& rootDN() const { return m_rootDN; }
    const std::string& rootPassword() const { return m_rootPassword; }
    const std::string& suffix() const { return m_suffix; }
    Schema schema() const { return m_schema; }
    // The temporary folder and slapd's log file in it.
    const std::string& directory() const { return m_dir; }
    std::string logPath() const;
    // The last lines of slapd's log.
    std::string logTail(size_t lines = 40) const;

    // Loads LDIF text with ldapadd -x as the root DN. Throws std::runtime_error
    // with ldapadd's output on failure.
    void addLdif(const std::string& ldif);

    // Adds one entry as the root DN through libldap, values stored as given
    // (binary safe). Attribute names are used verbatim: in the Stock flavour
    // certificate attributes need the ";binary" option ("cACertificate;binary").
    // addEntry throws std::runtime_error on failure; tryAddEntry returns the LDAP
    // result code (0 success, OpenLDAP numbering) instead.
    void addEntry(const std::string& dn, const std::vector<Attribute>& attributes);
    int tryAddEntry(const std::string& dn, const std::vector<Attribute>& attributes);

    // Replaces all values of one attribute of an entry (no values: removes the
    // attribute). Throws std::runtime_error on failure.
    void replaceAttribute(const std::string& dn, const Attribute& attribute);
    // Deletes one entry. Throws std::runtime_error on failure.
    void deleteEntry(const std::string& dn);

    // TLS, set before the first start(): with this certificate and key (PEM),
    // slapd also listens for ldaps:// on a second loopback port and offers
    // StartTLS on the plain one.
    void enableTls(const std::string& certificatePEM, const std::string& keyPEM);
    // The ldaps:// port (0 without TLS) and "ldaps://127.0.0.1:PORT".
    int tlsPort() const { return m_tlsPort; }
    std::string tlsUrl() const;

    // Size limit of searches by other users than the root DN, set before the
    // first start(): a search answers at most `entries` entries, a paged search
    // as many as it asks for, page by page.
    void setSizeLimit(int entries) { m_sizeLimit = entries; }

    // Replication, set before the first start(). A provider offers its changes
    // (syncprov); a consumer copies everything under the provider's suffix (same
    // suffix and root DN) and keeps it current (syncrepl, refresh and persist).
    // A consumer does not create the suffix entry: it comes from the provider.
    void makeProvider();
    void replicateFrom(const LabSlapd& provider);

  private:
    void writeConfig();
    void launch();
    bool waitReady();
    void createSuffixEntry();
    int modify(const std::string& dn, int op, const std::vector<Attribute>* attributes,
               std::string* error);

    Schema m_schema;
    std::string m_suffix;
    int m_port;
    std::string m_rootDN;
    std::string m_rootPassword;
    std::string m_dir;
    pid_t m_pid = -1;
    bool m_configured = false;
    bool m_detached = false;
    std::string m_labSchemaDir = RYX_LAB_SCHEMA_DIR;
    int m_tlsPort = 0;
    int m_sizeLimit = 0;  // 0: slapd's default
    std::string m_tlsCertificate;
    std::string m_tlsKey;
    bool m_provider = false;
    std::string m_providerUrl;
};

#endif
