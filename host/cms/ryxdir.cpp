#include "ryxdir.h"

LDAPInitAgent::LDAPInitAgent() = default;
LDAPInitAgent::~LDAPInitAgent() = default;

RYXDIRConnectInfo::RYXDIRConnectInfo() = default;
RYXDIRConnectInfo::~RYXDIRConnectInfo() = default;
int RYXDIRConnectInfo::isKindOf(const RYXString& className) const {
    return className.compare("RYXDIRConnectInfo") == 0 ? 1 : 0;
}
RYXString RYXDIRConnectInfo::getInstanceClassName() const {
    return getClassName();
}
RYXString RYXDIRConnectInfo::getClassName() {
    return RYXString("RYXDIRConnectInfo");
}

RYXDIRConnectInfo::LDAP::LDAP() : port(389), version(1), errorMode(0), initAgent(nullptr) {}

RYXDIRConnectInfo::LDAP::LDAP(const RYXConstString& host_, int port_, const RYXConstString& userDN_,
                              const RYXBuffer& password_, int version_, int errorMode_,
                              const RYXConstString& driverPath_, LDAPInitAgent* initAgent_)
    : host(host_),
      port(port_),
      userDN(userDN_),
      password(password_),
      version(version_),
      errorMode(errorMode_),
      driverPath(driverPath_),
      initAgent(initAgent_) {}

RYXDIRConnectInfo::LDAP::LDAP(const LDAP& other)
    : RYXDIRConnectInfo(other),
      host(other.host),
      port(other.port),
      userDN(other.userDN),
      password(other.password),
      version(other.version),
      errorMode(other.errorMode),
      driverPath(other.driverPath),
      initAgent(other.initAgent) {}

RYXDIRConnectInfo::LDAP& RYXDIRConnectInfo::LDAP::operator=(const LDAP& other) {
    if (this != &other) {
        host = other.host;
        port = other.port;
        userDN = other.userDN;
        password.cleanse();
        password = other.password;
        version = other.version;
        errorMode = other.errorMode;
        driverPath = other.driverPath;
        initAgent = other.initAgent;
    }
    return *this;
}

RYXDIRConnectInfo::LDAP::~LDAP() {
    password.cleanse();
}

RYXDIRConnectInfo::LDAP* RYXDIRConnectInfo::LDAP::clone() const {
    return new LDAP(*this);
}

int RYXDIRConnectInfo::LDAP::isKindOf(const RYXString& className) const {
    return className.compare("RYXDIRConnectInfo::LDAP") == 0
               ? 1
               : RYXDIRConnectInfo::isKindOf(className);
}
RYXString RYXDIRConnectInfo::LDAP::getInstanceClassName() const {
    return getClassName();
}
RYXString RYXDIRConnectInfo::LDAP::getClassName() {
    return RYXString("RYXDIRConnectInfo::LDAP");
}

RYXDIRConnectInfo::HTTP::HTTP() = default;
RYXDIRConnectInfo::HTTP::HTTP(const RYXConstString& url_) : url(url_) {}
RYXDIRConnectInfo::HTTP::HTTP(const HTTP& other) : RYXDIRConnectInfo(other), url(other.url) {}
RYXDIRConnectInfo::HTTP::~HTTP() = default;
RYXDIRConnectInfo::HTTP* RYXDIRConnectInfo::HTTP::clone() const {
    return new HTTP(*this);
}
int RYXDIRConnectInfo::HTTP::isKindOf(const RYXString& className) const {
    return className.compare("RYXDIRConnectInfo::HTTP") == 0
               ? 1
               : RYXDIRConnectInfo::isKindOf(className);
}
RYXString RYXDIRConnectInfo::HTTP::getInstanceClassName() const {
    return getClassName();
}
RYXString RYXDIRConnectInfo::HTTP::getClassName() {
    return RYXString("RYXDIRConnectInfo::HTTP");
}

RYXDIRManager::RYXDIRManager() = default;
RYXDIRManager::~RYXDIRManager() = default;
bool RYXDIRManager::isKindOf(const RYXString& name) const {
    return name.compare("RYXDIRManager") == 0;
}
RYXString RYXDIRManager::getClassName() {
    return RYXString("RYXDIRManager");
}
