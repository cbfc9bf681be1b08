// LDAPDIRManager: the LDAP implementation of the toolkit's directory manager.
// It owns a copy of the connection information and one client, binds on demand,
// retries a search once when the server turns out to be down, and decodes the
// certificate and revocation-list values it finds.
#include "ldapdirmanager.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

#include "ldapclient.h"
#include "ldapentry.h"
#include "ldapsearchresults.h"
#include "ryxstrstream.h"
#include "ryxtrace.h"
#include "ryxutility.h"

namespace {

const char* const kSourceFile = "ldapdirmanager.cpp";

// Error codes of this unit and of the client.
const int kNoConnection = 576002;
const int kSearchFailed = 576004;

// LDAP result codes the manager looks at.
const int kLdapNoSuchObject = 32;
const int kLdapServerDown = 81;
const int kLdapConnectError = 91;

// Bytes of one value that reach the trace at most.
const unsigned int kTraceLimit = 256;

const char kHeadingColon[] = "Data Read Trace Limited to 256 Bytes:";
const char kHeadingPlain[] = "Data Read Trace Limited to 256 Bytes";

#define DIR_TRACE(name) \
    RYXTraceFunction dirTrace_(RYX_TRACE_COMP_DIRLDAP, kSourceFile, __LINE__, name)

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// Search results are erased before they are destroyed, on every way out.
struct ResultsDeleter {
    void operator()(LDAPSearchResults* results) const {
        results->erase();
        delete results;
    }
};
typedef std::unique_ptr<LDAPSearchResults, ResultsDeleter> ResultsPtr;

// True when an error message of this component would be written now.
bool errorTraceEnabled() {
    RYXTrace* t = RYXTrace::s_defaultTracePtr;
    return t != nullptr && t->isOn() && t->isEnabled(RYX_TRACE_COMP_DIRLDAP, RYX_TRACE_LEVEL_ERROR);
}

const char* orEmpty(const char* text) {
    return text != nullptr ? text : "";
}

// Writes the heading and a hex dump of at most the first 256 bytes of value.
void traceValue(const RYXBuffer& value, const char* heading, int line) {
    RYXTrace* t = RYXTrace::s_defaultTracePtr;
    if (t == nullptr || !t->isOn()) {
        return;
    }
    unsigned int length = value.getLength();
    if (length > kTraceLimit) {
        length = kTraceLimit;
    }
    ryxstrstream::ostrstream os;
    os << heading << '\n';
    RYXUtility::hexdump(os, "HEX", RYXBuffer(length, value.getValue()));
    t->write(RYX_TRACE_COMP_DIRLDAP, kSourceFile, line, RYX_TRACE_LEVEL_ERROR, os);
}

// The hex text of a value marked "{ASN}" or "{Asn}": the digits after the mark
// up to the terminating NUL, never beyond the stored length. False when the
// value carries no mark.
bool markedHexText(const RYXBuffer& value, const char** hex, size_t* hexLength) {
    const unsigned char* bytes = value.getValue();
    size_t length = value.getLength();
    if (bytes == nullptr || length < 5) {
        return false;
    }
    if (std::memcmp(bytes, "{ASN}", 5) != 0 && std::memcmp(bytes, "{Asn}", 5) != 0) {
        return false;
    }
    const char* digits = reinterpret_cast<const char*>(bytes) + 5;
    size_t room = length - 5;
    const void* nul = std::memchr(digits, '\0', room);
    *hex = digits;
    *hexLength =
        nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - digits) : room;
    return true;
}

// How a decoding failure of the host's DER decoder is handled.
enum class DecodeFailure {
    Propagate,  // the exception ends the retrieval
    Skip        // a RYXASNException counts as a skipped value
};

// Decodes one stored value into a new object of type T and pushes it into the
// container; a text value without the mark is skipped. Exceptions other than
// the skipped decoder failures pass on, with the new object destroyed.
template <class T>
void decodeValue(const RYXBuffer& value, const char* heading, RYXASNObjectContainer* container,
                 DecodeFailure failure) {
    traceValue(value, heading, __LINE__);
    std::unique_ptr<T> object(new T(RYXASN_SECURITY_NONE));
    const unsigned char* bytes = value.getValue();
    int length = static_cast<int>(value.getLength());
    if (isPrintable(bytes, length - 1)) {
        const char* hex = nullptr;
        size_t hexLength = 0;
        if (!markedHexText(value, &hex, &hexLength)) {
            return;  // unmarked text: skipped
        }
        RYXBuffer der = RYXUtility::hexStringToBinary(hex, hexLength);
        try {
            RYXASNUtility::setDEREncoding(*object, der.get());
        } catch (const RYXASNException&) {
            if (failure == DecodeFailure::Skip) {
                return;
            }
            throw;
        }
    } else {
        try {
            RYXASNUtility::setDEREncoding(*object, value.get());
        } catch (const RYXASNException&) {
            if (failure == DecodeFailure::Skip) {
                return;
            }
            throw;
        }
    }
    // The owning container takes the object over, also when the append fails.
    container->push_back(object.release());
}

// Decodes every value of one attribute of an entry, in the order they were
// added; a value that does not decode ends the retrieval.
template <class T, class Container>
void decodeAttribute(LDAPEntry& entry, const char* name, const char* heading,
                     Container* container) {
    const size_t k = entry.count(name);
    if (k == 0) {
        return;
    }
    LDAPEntry::iterator it = entry.find(name);
    for (size_t i = 0; i < k && it != entry.end(); ++i, ++it) {
        decodeValue<T>(*it->second, heading, container, DecodeFailure::Propagate);
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction, destruction, log-in and validation

LDAPDIRManager::LDAPDIRManager(const RYXDIRConnectInfo::LDAP& info)
    : RYXDIRManager(), m_connectInfo(nullptr), m_client(nullptr) {
    std::unique_ptr<RYXDIRConnectInfo::LDAP> copy(info.clone());
    m_connectInfo = copy.get();
    commonCtor();
    copy.release();
}

LDAPDIRManager::LDAPDIRManager(const LDAPDIRManager& other)
    : RYXDIRManager(), m_connectInfo(nullptr), m_client(nullptr) {
    std::unique_ptr<RYXDIRConnectInfo::LDAP> copy(other.m_connectInfo->clone());
    m_connectInfo = copy.get();
    commonCtor();
    copy.release();
}

void LDAPDIRManager::commonCtor() {
    DIR_TRACE("commonCtor");
    m_client = nullptr;
    int version = m_connectInfo->version == 1 ? 3 : 2;
    m_client = new LDAPClient(m_connectInfo->host, m_connectInfo->driverPath,
                              m_connectInfo->initAgent, m_connectInfo->port, version);
}

LDAPDIRManager::~LDAPDIRManager() {
    DIR_TRACE("~LDAPDIRManager");
    if (m_client != nullptr) {
        delete m_client;
        m_client = nullptr;
    }
    if (m_connectInfo != nullptr) {
        delete m_connectInfo;
        m_connectInfo = nullptr;
    }
}

int LDAPDIRManager::login() {
    DIR_TRACE("login");
    if (m_connectInfo->userDN.length() == 0) {
        return m_client->login(static_cast<const char*>(nullptr),
                               static_cast<const char*>(nullptr));
    }
    return m_client->login(m_connectInfo->userDN, m_connectInfo->password.get());
}

bool LDAPDIRManager::validateConnection() {
    DIR_TRACE("validateConnection");
    if (m_client == nullptr) {
        throw RYXDIRException(kSourceFile, __LINE__, kNoConnection,
                              "Unable to login to LDAP Server");
    }
    if (m_client->m_ld == nullptr) {
        login();
    }
    m_client->logout(true);
    return true;
}

RYXDIRManager* LDAPDIRManager::duplicate() {
    DIR_TRACE("duplicate");
    return new LDAPDIRManager(*this);
}

bool LDAPDIRManager::isKindOf(const RYXString& name) const {
    if (name.compare(RYXString("LDAPDIRManager")) == 0) {
        return true;
    }
    return RYXDIRManager::isKindOf(name);
}

RYXString LDAPDIRManager::getClassName() {
    return RYXString("LDAPDIRManager");
}

// ---------------------------------------------------------------------------
// Search with retry and the error mode

int LDAPDIRManager::doSearch(const char* base, const std::vector<RYXString>& attributes,
                             int scope) {
    DIR_TRACE("doSearch");
    RYXString filter;
    for (const RYXString& name : attributes) {
        filter += "(";
        filter += name;
        filter += "=*)";
    }
    if (attributes.size() > 1) {
        filter.insert(0, "(|");
        filter += ")";
    }
    std::unique_ptr<const char*, FreeDeleter> attrs(
        static_cast<const char**>(std::malloc((attributes.size() + 1) * sizeof(const char*))));
    if (!attrs) {
        throw std::bad_alloc();
    }
    for (size_t i = 0; i < attributes.size(); ++i) {
        attrs.get()[i] = attributes[i].c_str();
    }
    attrs.get()[attributes.size()] = nullptr;

    int retries = 1;
    for (;;) {
        try {
            if (m_client->m_ld == nullptr) {
                login();
            }
            return m_client->search(base, scope, filter.c_str(), const_cast<char**>(attrs.get()),
                                    0);
        } catch (const RYXDIRException& e) {
            if (e.getError() == kSearchFailed) {
                int rc = m_client->getErrno();
                if (serverIsDown(rc) && retries > 0) {
                    --retries;
                    if (errorTraceEnabled()) {
                        try {
                            ryxstrstream::ostrstream os;
                            os << "Error(" << rc << ") from ldap_search()."
                               << "  " << orEmpty(m_client->errorMessage(0)) << "  Retrying.";
                            RYXTrace::s_defaultTracePtr->write(RYX_TRACE_COMP_DIRLDAP, kSourceFile,
                                                               __LINE__, RYX_TRACE_LEVEL_ERROR, os);
                        } catch (...) {
                            // A message that cannot be written is dropped.
                        }
                    }
                    m_client->logout(false);
                    continue;
                }
            }
            if (maybeThrowIt(e)) {
                throw RYXDIRException(e);
            }
            return 0;
        }
    }
}

bool LDAPDIRManager::maybeThrowIt(const RYXDIRException&) {
    DIR_TRACE("maybeThrowIt");
    switch (m_connectInfo->errorMode) {
        case 0:
            return true;
        case 1:
            return m_client->getErrno() != kLdapNoSuchObject;
        default:
            return false;
    }
}

bool LDAPDIRManager::serverIsDown(int rc) {
    DIR_TRACE("serverIsDown");
    return rc == kLdapServerDown || rc == kLdapConnectError;
}

// ---------------------------------------------------------------------------
// Retrievals by DN

template <class Container>
Container* LDAPDIRManager::retrieveByName(const RYXASNx500Name& name,
                                          const std::vector<RYXString>& attributes, int scope) {
    if (m_client == nullptr) {
        throw RYXDIRException(kSourceFile, __LINE__, kNoConnection,
                              "Unable to login to LDAP Server");
    }
    std::unique_ptr<Container> container(new Container(RYX_OWNER));
    RYXString base = RYXASNUtility::getRFC2253String(name, false, RYXASN_STRREP_RFC2253);
    if constexpr (std::is_same<Container, RYXASNCertificateContainer>::value) {
        getCertificates(base.c_str(), attributes, container.get(), scope);
    } else {
        getRevocationLists(base.c_str(), attributes, container.get());
    }
    return container.release();
}

RYXASNCertificateContainer* LDAPDIRManager::getCACertificates(const RYXASNx500Name& subject) {
    DIR_TRACE("getCACertificates");
    return retrieveByName<RYXASNCertificateContainer>(subject, {RYXString("cACertificate")}, 0);
}

RYXASNCertificateContainer* LDAPDIRManager::getUserCertificates(const RYXASNx500Name& subject) {
    DIR_TRACE("getUserCertificates");
    return retrieveByName<RYXASNCertificateContainer>(subject, {RYXString("userCertificate")}, 2);
}

RYXASNCRLContainer* LDAPDIRManager::getARLs(const RYXASNx500Name& issuer) {
    DIR_TRACE("getARLs");
    return retrieveByName<RYXASNCRLContainer>(
        issuer,
        {RYXString("authorityRevocationList;binary"), RYXString("authorityRevocationList"),
         RYXString("certificateRevocationList;binary"), RYXString("certificateRevocationList")},
        0);
}

RYXASNCRLContainer* LDAPDIRManager::getCRLs(const RYXASNx500Name& issuer) {
    DIR_TRACE("getCRLs");
    return retrieveByName<RYXASNCRLContainer>(
        issuer,
        {RYXString("certificateRevocationList;binary"), RYXString("certificateRevocationList")}, 0);
}

void LDAPDIRManager::getCertificates(const char* base, const std::vector<RYXString>& attributes,
                                     RYXASNCertificateContainer* container, int scope) {
    DIR_TRACE("getCertificates");
    int n = doSearch(base, attributes, scope);
    if (n == 0 || attributes.empty()) {
        return;
    }
    ResultsPtr results(new LDAPSearchResults(*m_client));
    const char* name = attributes[0].c_str();
    while (LDAPEntry* entry = results->next()) {
        decodeAttribute<RYXASNx509Certificate>(*entry, name, kHeadingColon, container);
    }
}

void LDAPDIRManager::getRevocationLists(const char* base, const std::vector<RYXString>& attributes,
                                        RYXASNCRLContainer* container) {
    DIR_TRACE("getRevocationLists");
    int n = doSearch(base, attributes, 0);
    if (n == 0) {
        return;
    }
    ResultsPtr results(new LDAPSearchResults(*m_client));
    for (const RYXString& attribute : attributes) {
        const char* name = attribute.c_str();
        while (LDAPEntry* entry = results->next()) {
            decodeAttribute<RYXASNCertificateList>(*entry, name, kHeadingPlain, container);
        }
        results->reset();
    }
}

// ---------------------------------------------------------------------------
// Retrieval by LDAP URL

RYXASNCRLContainer* LDAPDIRManager::getViaURI(const RYXString& uri) {
    DIR_TRACE("getViaURI");
    if (m_client == nullptr) {
        throw RYXDIRException(kSourceFile, __LINE__, kNoConnection, "No LDAP client available");
    }
    std::unique_ptr<RYXASNCRLContainer> container(new RYXASNCRLContainer(RYX_OWNER));
    getRevocationListsByURI(uri, container.get());
    return container.release();
}

void LDAPDIRManager::getRevocationListsByURI(const RYXString& uri, RYXASNCRLContainer* container) {
    DIR_TRACE("getRevocationListsByURI");
    int n = doSearchByURI(uri, 0);
    if (n == 0) {
        return;
    }
    ResultsPtr results(new LDAPSearchResults(*m_client));
    while (LDAPEntry* entry = results->next()) {
        for (LDAPEntry::iterator it = entry->begin(); it != entry->end(); ++it) {
            decodeValue<RYXASNCertificateList>(*it->second, kHeadingColon, container,
                                               DecodeFailure::Skip);
        }
    }
}

int LDAPDIRManager::doSearchByURI(const RYXString& uri, int attrsonly) {
    DIR_TRACE("doSearchByURI");
    try {
        m_client->init_client();
        RYXString copy(uri.c_str());
        return m_client->searchByURI(copy, attrsonly);
    } catch (const RYXDIRException& e) {
        if (errorTraceEnabled()) {
            try {
                ryxstrstream::ostrstream os;
                os << "Error(" << m_client->getErrno() << ") from ldap_url_search_st()."
                   << "  " << orEmpty(m_client->errorMessage(0));
                RYXTrace::s_defaultTracePtr->write(RYX_TRACE_COMP_DIRLDAP, kSourceFile, __LINE__,
                                                   RYX_TRACE_LEVEL_ERROR, os);
            } catch (...) {
                // A message that cannot be written is dropped.
            }
        }
        if (maybeThrowIt(e)) {
            throw RYXDIRException(e);
        }
        return 0;
    }
}
