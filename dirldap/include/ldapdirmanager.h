// The LDAP implementation of the toolkit's directory manager.
#ifndef LDAPDIRMANAGER_H
#define LDAPDIRMANAGER_H

#include <vector>

#include "ryxasn.h"
#include "ryxbuffer.h"
#include "ryxdir.h"
#include "ryxexception.h"
#include "ryxstring.h"

class LDAPClient;

class LDAPDIRManager : public RYXDIRManager {
  public:
    explicit LDAPDIRManager(const RYXDIRConnectInfo::LDAP& info);
    LDAPDIRManager(const LDAPDIRManager& other);
    ~LDAPDIRManager() override;
    LDAPDIRManager& operator=(const LDAPDIRManager&) = delete;

    RYXDIRManager* duplicate() override;
    RYXASNCertificateContainer* getCACertificates(const RYXASNx500Name& subject) override;
    RYXASNCertificateContainer* getUserCertificates(const RYXASNx500Name& subject) override;
    RYXASNCRLContainer* getARLs(const RYXASNx500Name& issuer) override;
    RYXASNCRLContainer* getCRLs(const RYXASNx500Name& issuer) override;
    RYXASNCRLContainer* getViaURI(const RYXString& uri) override;
    bool validateConnection() override;
    bool isKindOf(const RYXString& name) const override;
    RYXString getClassName() override;

  private:
    // The body shared by the four retrievals by DN: the no-client check, a new
    // owning container, the name's RFC 2253 string as the base, then the search
    // and decoding of the given attributes. The caller gets the whole container
    // or the exception.
    template <class Container>
    Container* retrieveByName(const RYXASNx500Name& name, const std::vector<RYXString>& attributes,
                              int scope);

    void commonCtor();
    int login();
    int doSearch(const char* base, const std::vector<RYXString>& attributes, int scope);
    bool maybeThrowIt(const RYXDIRException& e);
    bool serverIsDown(int rc);
    void getCertificates(const char* base, const std::vector<RYXString>& attributes,
                         RYXASNCertificateContainer* container, int scope);
    void getRevocationLists(const char* base, const std::vector<RYXString>& attributes,
                            RYXASNCRLContainer* container);
    int doSearchByURI(const RYXString& uri, int attrsonly);
    void getRevocationListsByURI(const RYXString& uri, RYXASNCRLContainer* container);

    RYXDIRConnectInfo::LDAP* m_connectInfo;
    LDAPClient* m_client;
};

#endif
