// LDAPClient: binds an LDAP C API library at run time, opens and closes the
// connection, searches and writes entries. LDAPEntry and LdapModArray live here
// too: they are the client's view of one directory entry.
#include "ldapclient.h"

#include <string.h>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <ostream>
#include <vector>

#include "ryxexception.h"
#include "ryxlibrary.h"
#include "ryxstrstream.h"
#include "ryxtrace.h"

namespace {

const char* const kSourceFile = "ldapclient.cpp";

// Codes of the client's failures.
const int kErrLibrary = 576001;
const int kErrNoConnection = 576002;
const int kErrSearch = 576004;
const int kErrBadCredentials = 576009;

#define CLIENT_TRACE(name) \
    RYXTraceFunction clientTrace_(RYX_TRACE_COMP_DIRLDAP, kSourceFile, __LINE__, name)

// Entry and exit records under a name composed from the arguments; the name is
// composed only when the entry record will be written.
#define CLIENT_TRACE_COMPOSED(parts)                                             \
    ryxstrstream::strstream clientTraceName_;                                    \
    if (RYXTraceFunction::wouldTrace(RYX_TRACE_COMP_DIRLDAP)) {                  \
        clientTraceName_ << parts;                                               \
    }                                                                            \
    RYXTraceFunction clientTrace_(RYX_TRACE_COMP_DIRLDAP, kSourceFile, __LINE__, \
                                  clientTraceName_.str())

void traceError(int line, const char* text) {
    RYXTrace* t = RYXTrace::s_defaultTracePtr;
    if (t != nullptr) {
        t->write(RYX_TRACE_COMP_DIRLDAP, kSourceFile, line, RYX_TRACE_LEVEL_ERROR, text,
                 std::strlen(text));
    }
}

void traceError(int line, ryxstrstream::strstream& text) {
    RYXTrace* t = RYXTrace::s_defaultTracePtr;
    if (t != nullptr) {
        t->write(RYX_TRACE_COMP_DIRLDAP, kSourceFile, line, RYX_TRACE_LEVEL_ERROR, text);
    }
}

[[noreturn]] void raise(int line, int code, ryxstrstream::strstream& message) {
    throw RYXDIRException(kSourceFile, line, code, RYXString(message.str()));
}

// Texts that may be null are written as "null" (trace names of the writes) or
// as nothing (DNs in messages).
const char* orNull(const char* text) {
    return text != nullptr ? text : "null";
}
const char* orEmpty(const char* text) {
    return text != nullptr ? text : "";
}

bool isURIHost(const RYXConstString& host) {
    return host.compare("URI") == 0 || host.compare("uri") == 0;
}

// A heap copy of a secret, overwritten with zeros before it is released.
class SecretCopy {
  public:
    SecretCopy(const unsigned char* bytes, unsigned int length)
        : m_bytes(new char[length + 1]), m_length(length) {
        if (length != 0) {
            std::memcpy(m_bytes, bytes, length);
        }
        m_bytes[length] = '\0';
    }
    ~SecretCopy() {
        explicit_bzero(m_bytes, m_length);
        delete[] m_bytes;
    }
    SecretCopy(const SecretCopy&) = delete;
    SecretCopy& operator=(const SecretCopy&) = delete;

    const char* get() const { return m_bytes; }

  private:
    char* m_bytes;
    unsigned int m_length;
};

// One row of the function table: the API name, where the pointer goes, how a
// missing symbol is treated and the trace text for it.
enum SymbolKind { kRequired, kOptionalSilent, kOptionalWarns };

struct SymbolSlot {
    const char* name;
    void** entry;
    SymbolKind kind;
    const char* missingText;
};

// The prefixed name goes into buffer ("%s%s"); without a prefix the API name
// itself is looked up.
const char* composeSymbolName(const char* prefix, const char* name, char* buffer) {
    if (prefix == nullptr) {
        return name;
    }
    std::sprintf(buffer, "%s%s", prefix, name);
    return buffer;
}

// The LDAPMod record as allocated here: the three API members and one more
// pointer-sized member, always null.
struct LdapModRecord {
    LDAPMod mod;
    void* reserved;
};

// Releases a modification array: the berval records and arrays and the LDAPMod
// records, never the names and bytes, which belong to the entry.
void releaseMods(LDAPMod** mods) {
    if (mods == nullptr) {
        return;
    }
    for (LDAPMod** mod = mods; *mod != nullptr; ++mod) {
        struct berval** values = (*mod)->mod_bvalues;
        if (values != nullptr) {
            for (struct berval** value = values; *value != nullptr; ++value) {
                delete *value;
            }
            delete[] values;
        }
        delete reinterpret_cast<LdapModRecord*>(*mod);
    }
    delete[] mods;
}

}  // namespace

// ---------------------------------------------------------------------------
// Directory entry

bool isPrintable(const unsigned char* bytes, int count) {
    if (count <= 0) {
        return true;
    }
    for (int i = 0; i < count; ++i) {
        if (!std::isprint(bytes[i])) {
            return false;
        }
    }
    return true;
}

LDAPEntry::LDAPEntry() {}

LDAPEntry::~LDAPEntry() {
    clear();
}

void LDAPEntry::addAttribute(const char* name, const char* value, unsigned int length) {
    CLIENT_TRACE("addAttribute");
    if (value == nullptr) {
        return;
    }
    // A failure here leaves the entry as it was: the caller is not told.
    try {
        const size_t nameLength = std::strlen(name);
        std::unique_ptr<char[]> nameCopy(new char[nameLength + 1]);
        std::memcpy(nameCopy.get(), name, nameLength + 1);
        if (length == 0) {
            length = static_cast<unsigned int>(std::strlen(value) + 1);
        }
        std::unique_ptr<RYXBuffer> buffer(
            new RYXBuffer(length, reinterpret_cast<const unsigned char*>(value)));
        m_attributes.emplace_hint(m_attributes.upper_bound(nameCopy.get()), nameCopy.get(),
                                  buffer.get());
        nameCopy.release();
        buffer.release();
    } catch (...) {
    }
}

bool LDAPEntry::removeAttribute(const char* name, const char* value) {
    CLIENT_TRACE("removeAttribute");
    size_t n = m_attributes.count(name);
    if (n == 0) {
        return false;
    }
    iterator it = m_attributes.find(name);
    if (value == nullptr) {
        while (n-- > 0) {
            iterator current = it++;
            delete[] current->first;
            delete current->second;
            m_attributes.erase(current);
        }
        return true;
    }
    // The stored text is read up to its first NUL but never past its length,
    // so a binary value without a NUL is compared safely.
    const size_t valueLength = std::strlen(value);
    for (; n > 0; --n, ++it) {
        const char* stored = reinterpret_cast<const char*>(it->second->getValue());
        const size_t storedLength =
            stored != nullptr ? strnlen(stored, it->second->getLength()) : 0;
        if (storedLength == valueLength &&
            (valueLength == 0 || strncasecmp(stored, value, valueLength) == 0)) {
            delete[] it->first;
            delete it->second;
            m_attributes.erase(it);
            return true;
        }
    }
    return false;
}

const unsigned char* LDAPEntry::getAttributeValue(const char* name) {
    CLIENT_TRACE("getAttributeValue");
    if (m_attributes.count(name) == 0) {
        return nullptr;
    }
    return m_attributes.find(name)->second->getValue();
}

void LDAPEntry::clear() {
    for (auto& pair : m_attributes) {
        delete[] pair.first;
        delete pair.second;
    }
    m_attributes.clear();
}

// ---------------------------------------------------------------------------
// Modification array

LdapModArray::LdapModArray(LDAPEntry* entry, int operation) : m_mods(nullptr) {
    CLIENT_TRACE("LdapModArray::LdapModArray");
    if (entry == nullptr) {
        return;
    }
    const size_t slots = entry->size() + 1;
    m_mods = new LDAPMod*[slots];
    std::fill(m_mods, m_mods + slots, nullptr);
    // Every slot filled so far is followed by nulls, so a partly built array
    // can be released if an allocation fails.
    try {
        fillMods(entry, operation);
    } catch (...) {
        releaseMods(m_mods);
        m_mods = nullptr;
        throw;
    }
}

void LdapModArray::fillMods(LDAPEntry* entry, int operation) {
    size_t out = 0;
    LDAPEntry::iterator it = entry->begin();
    while (it != entry->end()) {
        if (std::strcmp(it->first, "dn") == 0) {
            ++it;
            continue;
        }
        // The values of this attribute under every letter case, from this
        // pair on. Pairs spelled exactly "dn" (possible only when the DN
        // attribute also has another spelling) are never sent, and the walk
        // never runs past the attribute's last pair.
        size_t n = 0;
        for (LDAPEntry::iterator probe = it;
             probe != entry->end() && strcasecmp(probe->first, it->first) == 0; ++probe) {
            if (std::strcmp(probe->first, "dn") != 0) {
                ++n;
            }
        }
        LdapModRecord* record = new LdapModRecord();
        record->mod.mod_op = operation | LDAP_MOD_BVALUES;
        record->mod.mod_type = it->first;
        record->mod.mod_bvalues = nullptr;
        record->reserved = nullptr;
        m_mods[out] = &record->mod;
        struct berval** values = new struct berval*[n + 1];
        std::fill(values, values + n + 1, nullptr);
        record->mod.mod_bvalues = values;
        ++out;

        size_t filled = 0;
        while (filled < n && it != entry->end()) {
            if (std::strcmp(it->first, "dn") == 0) {
                ++it;
                continue;
            }
            RYXBuffer* buffer = it->second;
            struct berval* value = new struct berval;
            value->bv_val = reinterpret_cast<char*>(buffer->getValue());
            const unsigned int length = buffer->getLength();
            if (value->bv_val == nullptr) {
                value->bv_len = 0;
            } else if (isPrintable(buffer->getValue(), static_cast<int>(length) - 1)) {
                value->bv_len = strnlen(value->bv_val, length);
            } else {
                value->bv_len = length;
            }
            values[filled++] = value;
            ++it;
        }
    }
    m_mods[out] = nullptr;
}

LdapModArray::~LdapModArray() {
    CLIENT_TRACE("~LdapModArray");
    releaseMods(m_mods);
    m_mods = nullptr;
}

std::ostream& operator<<(std::ostream& os, const LDAPMod& mod) {
    os << " Operation: " << mod.mod_op << "\n"
       << " Attribute: " << orNull(mod.mod_type) << std::endl;
    if (mod.mod_bvalues == nullptr) {
        return os;
    }
    for (struct berval** value = mod.mod_bvalues; *value != nullptr; ++value) {
        const struct berval* bv = *value;
        os << "  (Len)Val: (" << static_cast<unsigned long>(bv->bv_len) << ") ";
        if (bv->bv_val != nullptr) {
            os.write(bv->bv_val, static_cast<std::streamsize>(strnlen(bv->bv_val, bv->bv_len)));
        }
        os << std::endl;
    }
    return os;
}

// ---------------------------------------------------------------------------
// Construction and binding

LDAPClient::LDAPClient(const RYXConstString& host, const RYXConstString& driverPath,
                       LDAPInitAgent* initAgent, int port, int version)
    : m_ld(nullptr),
      m_result(nullptr),
      m_entry(nullptr),
      m_lastError(0),
      m_host(host),
      m_port(port),
      m_version(version),
      m_libHandle(nullptr),
      m_initAgent(initAgent),
      m_ldap_init(nullptr),
      m_ldap_msgfree(nullptr),
      m_ldap_err2string(nullptr),
      m_ldap_set_option(nullptr),
      m_ldap_simple_bind_s(nullptr),
      m_ldap_unbind(nullptr),
      m_ldap_search_st(nullptr),
      m_ldap_url_search_st(nullptr),
      m_ldap_url_parse(nullptr),
      m_ldap_free_urldesc(nullptr),
      m_ldap_count_entries(nullptr),
      m_ldap_add_s(nullptr),
      m_ldap_delete_s(nullptr),
      m_ldap_modify_s(nullptr),
      m_ldap_modrdn_s(nullptr),
      m_ldap_first_entry(nullptr),
      m_ldap_next_entry(nullptr),
      m_ldap_get_dn(nullptr),
      m_ldap_memfree(nullptr),
      m_ldap_first_attribute(nullptr),
      m_ldap_next_attribute(nullptr),
      m_ldap_get_values_len(nullptr),
      m_ldap_value_free_len(nullptr),
      m_ldap_get_errno(nullptr),
      m_ldap_ber_free(nullptr),
      m_useDriverPath(false) {
    CLIENT_TRACE_COMPOSED("LDAPClient(" << host << " , " << port << " , " << version << " )");
    if (driverPath.length() == 0 && m_initAgent != nullptr) {
        traceError(__LINE__, "InitAgent set but no driverPath specified ... initAgent is disabled");
        m_initAgent = nullptr;
    }
    connectDynamic(driverPath);
}

void LDAPClient::connectDynamic(const RYXConstString& driverPath) {
    CLIENT_TRACE_COMPOSED("LDAPClient::connectDynamic(  Driver Path: " << driverPath << " )");
    const char* prefix = nullptr;
    if (driverPath.length() != 0) {
        m_useDriverPath = true;
        if (ryx_load_library(driverPath.asCString(), &m_libHandle) != 0) {
            m_libHandle = nullptr;
        }
    } else {
        prefix = "ryx_";
        m_libHandle = RYXLibraryManager::loadLibraryReally(RYXString("ryx8ldap"), RYXString());
    }
    if (m_libHandle == nullptr) {
        traceError(__LINE__, "Failed to open LDAP shared library client");
        m_libHandle = nullptr;
        throw RYXDIRException(kSourceFile, __LINE__, kErrLibrary, RYXString());
    }

#define SLOT(fn, kind, text) \
    { #fn, reinterpret_cast < void**>(&m_##fn), kind, text }
    // Table order, except that ldap_ber_free is looked up before ldap_get_errno.
    const SymbolSlot slots[] = {
        SLOT(ldap_init, kRequired, "ldap_init symbol not defined in library"),
        SLOT(ldap_msgfree, kRequired, "ldap_msgfree symbol not defined in library"),
        SLOT(ldap_err2string, kRequired, "ldap_err2string symbol not defined in library"),
        SLOT(ldap_set_option, kRequired, "ldap_set_option symbol not defined in library"),
        SLOT(ldap_simple_bind_s, kRequired, "ldap_simple_bind_s symbol not defined in library"),
        SLOT(ldap_unbind, kRequired, "ldap_unbind symbol not defined in library"),
        SLOT(ldap_search_st, kRequired, "ldap_search_st symbol not defined in library"),
        SLOT(ldap_url_search_st, kOptionalSilent, nullptr),
        SLOT(ldap_url_parse, kOptionalSilent, nullptr),
        SLOT(ldap_free_urldesc, kOptionalSilent, nullptr),
        SLOT(ldap_count_entries, kRequired, "ldap_count_entries  symbol not defined in library"),
        SLOT(ldap_add_s, kRequired, "ldap_add_s  symbol not defined in library"),
        SLOT(ldap_delete_s, kRequired, "ldap_delete_s  symbol not defined in library"),
        SLOT(ldap_modify_s, kRequired, "ldap_modify_s  symbol not defined in library"),
        SLOT(ldap_modrdn_s, kRequired, "ldap_modrdn_s  symbol not defined in library"),
        SLOT(ldap_first_entry, kRequired, "ldap_first_entry  symbol not defined in library"),
        SLOT(ldap_next_entry, kRequired, "ldap_next_entry  symbol not defined in library"),
        SLOT(ldap_get_dn, kRequired, "ldap_get_dn  symbol not defined in library"),
        SLOT(ldap_memfree, kRequired, "ldap_memfree  symbol not defined in library"),
        SLOT(ldap_first_attribute, kRequired,
             "ldap_first_attribute  symbol not defined in library"),
        SLOT(ldap_next_attribute, kRequired, "ldap_next_attribute  symbol not defined in library"),
        SLOT(ldap_get_values_len, kRequired, "ldap_get_values_len  symbol not defined in library"),
        SLOT(ldap_value_free_len, kRequired, "ldap_value_free_len  symbol not defined in library"),
        SLOT(ldap_ber_free, kOptionalWarns,
             "Warning: ldap_ber_free not defined in library - Window implementation?"),
        SLOT(ldap_get_errno, kOptionalWarns,
             "Warning: ldap_get_errno not defined in library - Window implementation?"),
    };
#undef SLOT

    char buffer[128];
    for (const SymbolSlot& slot : slots) {
        const char* name = composeSymbolName(prefix, slot.name, buffer);
        void* address = nullptr;
        if (ryx_get_func_address(m_libHandle, name, &address) != 0) {
            address = nullptr;
        }
        *slot.entry = address;
        if (address != nullptr) {
            continue;
        }
        if (slot.kind == kRequired) {
            ryx_free_library(m_libHandle);
            m_libHandle = nullptr;
            traceError(__LINE__, slot.missingText);
            throw RYXDIRException(kSourceFile, __LINE__, kErrLibrary, RYXString());
        }
        if (slot.kind == kOptionalWarns) {
            traceError(__LINE__, slot.missingText);
        }
    }
}

LDAPClient::~LDAPClient() {
    CLIENT_TRACE("~LDAPClient()");
    if (m_result != nullptr) {
        m_ldap_msgfree(m_result);
        m_result = nullptr;
    }
    logout(true);
    if (m_libHandle != nullptr) {
        ryx_free_library(m_libHandle);
        m_libHandle = nullptr;
    }
}

// ---------------------------------------------------------------------------
// Connection

int LDAPClient::login(const char* userDN, const char* password) {
    CLIENT_TRACE_COMPOSED("LDAPClient::login(" << orEmpty(userDN) << ")");
    // A second log-in without a log-out would lose the open connection.
    if (m_ld != nullptr) {
        logout(true);
    }
    if (m_initAgent != nullptr) {
        traceError(__LINE__, "InitAgent beig used");
        const int rc = m_initAgent->initAgent();
        if (rc != 0) {
            const int reason = m_initAgent->getReasonCode(0);
            ryxstrstream::strstream message;
            message << "Cannot operate agent (callback) connection to LDAP server:  " << m_host
                    << ":" << m_port << ".  initAgent () returned " << rc << " and reason code "
                    << reason;
            raise(__LINE__, kErrNoConnection, message);
        }
        m_ld = m_initAgent->getLdapHandle();
    } else {
        std::unique_ptr<char[]> hostCopy;
        if (!isURIHost(m_host)) {
            hostCopy.reset(new char[m_host.length() + 1]);
            std::memcpy(hostCopy.get(), m_host.asCString(), m_host.length() + 1);
        }
        m_ld = m_ldap_init(hostCopy.get(), m_port);
        if (m_ld == nullptr) {
            ryxstrstream::strstream message;
            message << "Cannot open connection to LDAP server:  " << m_host << ":" << m_port
                    << ".  ldap_init() returned " << orEmpty(errorMessage(0));
            raise(__LINE__, kErrNoConnection, message);
        }
    }
    m_ldap_set_option(m_ld, LDAP_OPT_PROTOCOL_VERSION, &m_version);
    if (isURIHost(m_host)) {
        return 0;
    }
    const int rc = m_ldap_simple_bind_s(m_ld, userDN, password);
    m_lastError = rc;
    if (rc != 0) {
        m_ldap_unbind(m_ld);
        m_ld = nullptr;
        ryxstrstream::strstream message;
        message << "Cannot bind to LDAP server, " << m_host << " userDN=" << orEmpty(userDN)
                << " ldap_simple_bind() rc=" << rc << ". " << orEmpty(errorMessage(0));
        raise(__LINE__,
              (rc == LDAP_NO_SUCH_OBJECT || rc == LDAP_INVALID_CREDENTIALS) ? kErrBadCredentials
                                                                            : kErrNoConnection,
              message);
    }
    return 0;
}

int LDAPClient::login(const RYXConstString& userDN, const RYXASNCBuffer& password) {
    CLIENT_TRACE("LDAPClient::login");
    // Both copies are released, the password's overwritten first, on every way out.
    SecretCopy passwordCopy(password.getData(), password.getLength());
    const std::vector<char> dnCopy(userDN.asCString(), userDN.asCString() + userDN.length() + 1);
    return login(dnCopy.data(), passwordCopy.get());
}

int LDAPClient::login(const RYXConstString& host, int port, const RYXConstString& userDN,
                      const RYXASNCBuffer& password) {
    CLIENT_TRACE("login");
    m_host = host;
    m_port = port;
    logout(true);
    return login(userDN, password);
}

bool LDAPClient::init_client() {
    CLIENT_TRACE("init_client");
    if (m_ld != nullptr) {
        return true;
    }
    if (m_initAgent != nullptr) {
        traceError(__LINE__, "InitAgent beig used");
        const int rc = m_initAgent->initAgent();
        if (rc == 0) {
            m_ld = m_initAgent->getLdapHandle();
            return true;
        }
        const int reason = m_initAgent->getReasonCode(0);
        ryxstrstream::strstream message;
        message << "Cannot operate agent (callback) connection to LDAP server:  " << m_host << ":"
                << m_port << ".  initAgent () returned " << rc << " and reason code " << reason;
        traceError(__LINE__, message);
        return false;
    }
    m_ld = m_ldap_init(nullptr, m_port);
    return m_ld != nullptr;
}

int LDAPClient::logout(bool unbind) {
    CLIENT_TRACE("LDAPClient::logout()");
    if (unbind && m_ld != nullptr) {
        m_lastError = m_ldap_unbind(m_ld);
    }
    m_ld = nullptr;
    return 0;
}

const char* LDAPClient::errorMessage(int rc) {
    CLIENT_TRACE("errorMessage");
    if (rc == 0) {
        rc = getErrno();
    }
    return m_ldap_err2string(rc);
}

// ---------------------------------------------------------------------------
// Searches

int LDAPClient::search(const char* base, int scope, const char* filter, char** attrs,
                       int attrsonly) {
    if (m_result != nullptr) {
        m_ldap_msgfree(m_result);
        m_result = nullptr;
    }
    if (m_ld == nullptr) {
        ryxstrstream::strstream message;
        message << "LDAP server " << m_host << " did not bind";
        raise(__LINE__, kErrNoConnection, message);
    }
    CLIENT_TRACE_COMPOSED("LDAPClient::search( -b " << base << "  " << filter << " )");
    // No time limit of the client's own.
    const int rc =
        m_ldap_search_st(m_ld, base, scope, filter, attrs, attrsonly, nullptr, &m_result);
    m_lastError = rc;
    if (rc != LDAP_SUCCESS) {
        ryxstrstream::strstream message;
        message << "Error searching LDAP server."
                << " ldap_search_st() rc=" << rc << ". " << orEmpty(errorMessage(0));
        raise(__LINE__, kErrSearch, message);
    }
    return m_ldap_count_entries(m_ld, m_result);
}

int LDAPClient::searchByURI(const RYXString& uri, int attrsonly) {
    if (m_result != nullptr) {
        m_ldap_msgfree(m_result);
        m_result = nullptr;
    }
    RYXString url(uri);
    if (m_ldap_url_parse == nullptr || m_ldap_free_urldesc == nullptr ||
        m_ldap_url_search_st == nullptr) {
        throw RYXDIRException(kSourceFile, __LINE__, kErrSearch,
                              RYXString("searchByURI not supported by this client"));
    }
    // A URL that names no host gets one made from its dc= components; one that
    // does not parse is searched as it is.
    LDAPURLDesc* desc = nullptr;
    m_ldap_url_parse(uri.c_str(), &desc);
    if (desc != nullptr) {
        if (desc->lud_host == nullptr) {
            url = convertDCtoHost(uri);
        }
        m_ldap_free_urldesc(desc);
    }
    CLIENT_TRACE_COMPOSED("LDAPClient::searchByURI(" << url << " )");
    // Without a connection the library has nothing to search on: say so
    // instead of handing it a null handle.
    if (m_ld == nullptr) {
        ryxstrstream::strstream message;
        message << "Cannot search LDAP server by URI: no connection is open to " << url;
        raise(__LINE__, kErrNoConnection, message);
    }
    const int rc = m_ldap_url_search_st(m_ld, url.c_str(), attrsonly, nullptr, &m_result);
    m_lastError = rc;
    if (rc != LDAP_SUCCESS) {
        ryxstrstream::strstream message;
        message << "Error searching LDAP server by URI."
                << " ldap_url_search_st() rc=" << rc << ". " << orEmpty(errorMessage(0));
        raise(__LINE__, kErrSearch, message);
    }
    return m_ldap_count_entries(m_ld, m_result);
}

RYXString LDAPClient::convertDCtoHost(const RYXString& uri) {
    CLIENT_TRACE("convertDCtoHost");
    const size_t dc = uri.find_ignorecase("dc=");
    if (dc == RYXString::npos) {
        return RYXString(uri);
    }
    // The host goes right after the scheme's "//". Only the LDAP schemes have
    // a place for it; any other URL is left as it is.
    size_t insertAt;
    if (uri.find_ignorecase("ldap://") == 0) {
        insertAt = 7;
    } else if (uri.find_ignorecase("ldaps://") == 0 || uri.find_ignorecase("ldapi://") == 0) {
        insertAt = 8;
    } else {
        return RYXString(uri);
    }
    RYXString host = uri.substr(dc);
    const size_t question = host.find('?');
    if (question != RYXString::npos) {
        host.erase(question);
    }
    host.erase(0, 3);
    for (size_t at = host.find_ignorecase("dc="); at != RYXString::npos;
         at = host.find_ignorecase("dc=")) {
        host.erase(at, 3);
        host.insert(at, ".");
    }
    for (size_t at = host.find(','); at != RYXString::npos; at = host.find(',')) {
        host.erase(at, 1);
    }
    RYXString result(uri);
    result.insert(insertAt, host);
    return result;
}

// ---------------------------------------------------------------------------
// Entry modification

bool LDAPClient::addEntry(LDAPEntry* entry, const char* dn) {
    LdapModArray mods(entry, LDAP_MOD_ADD);
    if (dn == nullptr && entry != nullptr) {
        dn = reinterpret_cast<const char*>(entry->getAttributeValue("dn"));
    }
    CLIENT_TRACE_COMPOSED("LDAPClient::addEntry( " << orNull(dn) << " )");
    if (m_ld == nullptr) {
        return false;
    }
    // Nothing sensible can be sent without an entry or a DN.
    if (mods.get() == nullptr || dn == nullptr) {
        m_lastError = LDAP_PARAM_ERROR;
        return false;
    }
    m_lastError = m_ldap_add_s(m_ld, dn, mods.get());
    return m_lastError == LDAP_SUCCESS;
}

bool LDAPClient::modifyEntry(LDAPEntry* entry, const char* dn) {
    LdapModArray mods(entry, LDAP_MOD_REPLACE);
    if (dn == nullptr && entry != nullptr) {
        dn = reinterpret_cast<const char*>(entry->getAttributeValue("dn"));
    }
    CLIENT_TRACE_COMPOSED("LDAPClient::modifyEntry( " << orNull(dn) << " )");
    if (m_ld == nullptr) {
        return false;
    }
    if (mods.get() == nullptr || dn == nullptr) {
        m_lastError = LDAP_PARAM_ERROR;
        return false;
    }
    m_lastError = m_ldap_modify_s(m_ld, dn, mods.get());
    return m_lastError == LDAP_SUCCESS;
}

bool LDAPClient::deleteEntry(const char* dn) {
    CLIENT_TRACE_COMPOSED("LDAPClient::deleteEntry( " << orNull(dn) << " )");
    if (m_ld == nullptr) {
        return false;
    }
    m_lastError = m_ldap_delete_s(m_ld, dn);
    return m_lastError == LDAP_SUCCESS;
}

bool LDAPClient::modifyRDN(const char* dn, const char* newRDN, int deleteoldrdn) {
    CLIENT_TRACE_COMPOSED("LDAPClient::modifyRDN( " << orNull(dn) << " , " << orNull(newRDN)
                                                    << " )");
    if (m_ld == nullptr) {
        return false;
    }
    m_lastError = m_ldap_modrdn_s(m_ld, dn, newRDN, deleteoldrdn);
    return m_lastError == LDAP_SUCCESS;
}

// ---------------------------------------------------------------------------
// Wrappers over the function table

int LDAPClient::countEntries() {
    return m_ldap_count_entries(m_ld, m_result);
}

LDAPMessage* LDAPClient::firstEntry() {
    m_entry = m_ldap_first_entry(m_ld, m_result);
    return m_entry;
}

LDAPMessage* LDAPClient::nextEntry() {
    m_entry = m_ldap_next_entry(m_ld, m_entry);
    return m_entry;
}

char* LDAPClient::getDN() {
    return m_ldap_get_dn(m_ld, m_entry);
}

void LDAPClient::memFree(void* p) {
    m_ldap_memfree(p);
}

char* LDAPClient::firstAttribute(BerElement** ber) {
    return m_ldap_first_attribute(m_ld, m_entry, ber);
}

char* LDAPClient::nextAttribute(BerElement* ber) {
    return m_ldap_next_attribute(m_ld, m_entry, ber);
}

struct berval** LDAPClient::getValuesLen(const char* attr) {
    return m_ldap_get_values_len(m_ld, m_entry, attr);
}

void LDAPClient::valueFreeLen(struct berval** values) {
    m_ldap_value_free_len(values);
}

int LDAPClient::getErrno() {
    if (m_ldap_get_errno != nullptr && m_ld != nullptr) {
        return m_ldap_get_errno(m_ld);
    }
    return m_lastError;
}

// Drivers export the published two-argument function; freebuf 0 says that the
// element's buffer belongs to the entry and is not to be freed with it. The
// table keeps the one-argument type, so the call goes through the generic
// function pointer type to the two-argument one.
void LDAPClient::berFree(BerElement* ber) {
    if (m_ldap_ber_free != nullptr) {
        typedef void (*PublishedBerFree)(BerElement * ber, int freebuf);
        reinterpret_cast<PublishedBerFree>(reinterpret_cast<void (*)()>(m_ldap_ber_free))(ber, 0);
    }
}
