// The toolkit's directory interface: the abstract directory manager that
// directory plug-ins implement, the connection information handed to them, and
// the init agent through which a host opens LDAP connections itself.
#ifndef RYXDIR_H
#define RYXDIR_H

#include "ryxasn.h"
#include "ryxbuffer.h"
#include "ryxexport.h"
#include "ryxstring.h"

// The C LDAP API's connection type (same declaration as the LDAP headers').
typedef struct ldap LDAP;

// Opens an LDAP connection on a client's behalf (callback connection).
class RYX_EXPORT LDAPInitAgent {
  public:
    LDAPInitAgent();
    virtual ~LDAPInitAgent();
    // Prepares the connection: 0 on success.
    virtual int initAgent() = 0;
    // After a successful initAgent: the connection handle to use.
    virtual LDAP* getLdapHandle() = 0;
    // After a failed initAgent: the reason code.
    virtual int getReasonCode(int which) = 0;
};

// Connection information of a directory. One nested class per kind.
class RYX_EXPORT RYXDIRConnectInfo {
  public:
    class LDAP;
    class HTTP;

    RYXDIRConnectInfo();
    virtual ~RYXDIRConnectInfo();
    // A new heap object of the same dynamic type and content, owned by the caller.
    virtual RYXDIRConnectInfo* clone() const = 0;
    // Non-zero when this object is of the named class or derived from it.
    virtual int isKindOf(const RYXString& className) const;
    // The class name of this object's dynamic type.
    virtual RYXString getInstanceClassName() const;

    static RYXString getClassName();  // "RYXDIRConnectInfo"

  protected:
    RYXDIRConnectInfo(const RYXDIRConnectInfo&) = default;
    RYXDIRConnectInfo& operator=(const RYXDIRConnectInfo&) = default;
};

// Connection information of an LDAP directory.
class RYX_EXPORT RYXDIRConnectInfo::LDAP : public RYXDIRConnectInfo {
  public:
    RYXConstString host;        // server host(s); "URI"/"uri": the URL names the server
    int port;                   // server port
    RYXConstString userDN;      // bind DN; empty: anonymous
    RYXBuffer password;         // bind password bytes
    int version;                // 1: LDAP version 3, anything else: version 2
    int errorMode;              // 0 throw, 1 throw unless no such object, else never
    RYXConstString driverPath;  // LDAP C API library to load; empty: the toolkit's own
    LDAPInitAgent* initAgent;   // not owned

    LDAP();
    LDAP(const RYXConstString& host, int port, const RYXConstString& userDN,
         const RYXBuffer& password, int version, int errorMode, const RYXConstString& driverPath,
         LDAPInitAgent* initAgent);
    LDAP(const LDAP& other);
    LDAP& operator=(const LDAP& other);
    // Cleanses the password.
    ~LDAP() override;

    LDAP* clone() const override;
    int isKindOf(const RYXString& className) const override;
    RYXString getInstanceClassName() const override;

    static RYXString getClassName();  // "RYXDIRConnectInfo::LDAP"
};

// Connection information of a directory reached over HTTP (another kind, which
// the LDAP plug-in refuses).
class RYX_EXPORT RYXDIRConnectInfo::HTTP : public RYXDIRConnectInfo {
  public:
    RYXConstString url;

    HTTP();
    explicit HTTP(const RYXConstString& url);
    HTTP(const HTTP& other);
    ~HTTP() override;

    HTTP* clone() const override;
    int isKindOf(const RYXString& className) const override;
    RYXString getInstanceClassName() const override;

    static RYXString getClassName();  // "RYXDIRConnectInfo::HTTP"
};

// Abstract directory manager. Every container returned is new and owned by the
// caller.
class RYX_EXPORT RYXDIRManager {
  public:
    RYXDIRManager();
    virtual ~RYXDIRManager();
    virtual RYXDIRManager* duplicate() = 0;
    virtual RYXASNCertificateContainer* getCACertificates(const RYXASNx500Name& subject) = 0;
    virtual RYXASNCertificateContainer* getUserCertificates(const RYXASNx500Name& subject) = 0;
    virtual RYXASNCRLContainer* getARLs(const RYXASNx500Name& issuer) = 0;
    virtual RYXASNCRLContainer* getCRLs(const RYXASNx500Name& issuer) = 0;
    virtual RYXASNCRLContainer* getViaURI(const RYXString& uri) = 0;
    virtual bool validateConnection() = 0;
    // True for "RYXDIRManager".
    virtual bool isKindOf(const RYXString& name) const;
    virtual RYXString getClassName();

  protected:
    RYXDIRManager(const RYXDIRManager&) = default;
    RYXDIRManager& operator=(const RYXDIRManager&) = default;
};

#endif
