// Raw attribute values over the toolkit LDAP library: a connection of its own,
// bound as the manager binds, opened on first use.
#include <ldap.h>

#include <cstring>

#include "pkixinternal.h"
#include "ryxexception.h"
#include "ryxldapptr.h"

namespace {

const int kLdapFailure = 576004;
// The toolkit LDAP library's numbering of client-side failures.
const int kParamError = 89;
const int kConnectError = 91;

using LdapPtr = ryx::UniquePtr<LDAP, ryx::RyxUnbind>;
using MessagePtr = ryx::UniquePtr<LDAPMessage, ryx::RyxMsgfree>;

[[noreturn]] void failed(const std::string& what, int code) {
    throw RYXDIRException(__FILE__, __LINE__, kLdapFailure,
                          RYXString((what + ": " + ryx_ldap_err2string(code)).c_str()));
}

// Every value of every attribute of every entry of a result.
std::vector<RYXPKIXValueSource::Value> valuesOf(LDAP* ld, LDAPMessage* result) {
    std::vector<RYXPKIXValueSource::Value> values;
    for (LDAPMessage* e = ryx_ldap_first_entry(ld, result); e != nullptr;
         e = ryx_ldap_next_entry(ld, e)) {
        BerElement* ber = nullptr;
        char* name = ryx_ldap_first_attribute(ld, e, &ber);
        const ryx::UniquePtr<BerElement, ryx::RyxBerFree> iteration(ber);
        for (; name != nullptr; name = ryx_ldap_next_attribute(ld, e, ber)) {
            const ryx::UniquePtr<char, ryx::RyxMemfree> ownName(name);
            const ryx::UniquePtr<berval*, ryx::RyxValueFree> vals(
                ryx_ldap_get_values_len(ld, e, name));
            for (int i = 0; vals && vals.get()[i] != nullptr; ++i) {
                values.push_back({name, std::string(vals.get()[i]->bv_val, vals.get()[i]->bv_len)});
            }
        }
    }
    return values;
}

}  // namespace

struct RYXPKIXLdapValueSource::Impl {
    std::string host;
    int port;
    std::string bindDN;
    std::string password;
    int version;
    LdapPtr ld;

    ~Impl() { OPENSSL_cleanse(&password[0], password.size()); }

    LDAP* connection() {
        if (ld) {
            return ld.get();
        }
        LdapPtr made(ryx_ldap_init(host.c_str(), port));
        if (!made) {
            failed("cannot reach " + host, kConnectError);
        }
        ryx_ldap_set_option(made.get(), LDAP_OPT_PROTOCOL_VERSION, &version);
        const int rc = ryx_ldap_simple_bind_s(made.get(), bindDN.empty() ? nullptr : bindDN.c_str(),
                                              bindDN.empty() ? nullptr : password.c_str());
        if (rc != LDAP_SUCCESS) {
            failed("bind", rc);
        }
        ld = std::move(made);
        return ld.get();
    }
};

RYXPKIXLdapValueSource::RYXPKIXLdapValueSource(const RYXDIRConnectInfo::LDAP& info)
    : m_impl(std::make_unique<Impl>()) {
    m_impl->host = info.host.asCString();
    m_impl->port = info.port;
    m_impl->bindDN = info.userDN.asCString();
    m_impl->password.assign(reinterpret_cast<const char*>(info.password.getValue()),
                            info.password.getLength());
    m_impl->version = info.version == 1 ? LDAP_VERSION3 : LDAP_VERSION2;
}

RYXPKIXLdapValueSource::~RYXPKIXLdapValueSource() = default;

std::vector<RYXPKIXValueSource::Value> RYXPKIXLdapValueSource::entryValues(
    const std::string& dn, const std::vector<std::string>& attributes) {
    LDAP* ld = m_impl->connection();
    std::vector<char*> names;
    for (const std::string& a : attributes) {
        names.push_back(const_cast<char*>(a.c_str()));
    }
    names.push_back(nullptr);
    LDAPMessage* result = nullptr;
    const int rc = ryx_ldap_search_st(ld, dn.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)",
                                      names.data(), 0, nullptr, &result);
    MessagePtr owned(result);
    if (rc == LDAP_NO_SUCH_OBJECT) {
        return {};
    }
    if (rc != LDAP_SUCCESS) {
        m_impl->ld.reset();
        failed("search of \"" + dn + "\"", rc);
    }
    return valuesOf(ld, result);
}

std::vector<RYXPKIXValueSource::Value> RYXPKIXLdapValueSource::urlValues(const std::string& url) {
    LDAPURLDesc* desc = nullptr;
    if (ryx_ldap_url_parse(url.c_str(), &desc) != 0) {
        failed("URL " + url, kParamError);
    }
    const std::string host =
        desc->lud_host != nullptr && *desc->lud_host ? desc->lud_host : m_impl->host;
    const int port = desc->lud_port != 0 ? desc->lud_port : LDAP_PORT;
    ryx_ldap_free_urldesc(desc);
    LdapPtr ld(ryx_ldap_init(host.c_str(), port));
    if (!ld) {
        failed("cannot reach " + host, kConnectError);
    }
    int version = LDAP_VERSION3;
    ryx_ldap_set_option(ld.get(), LDAP_OPT_PROTOCOL_VERSION, &version);
    LDAPMessage* result = nullptr;
    const int rc = ryx_ldap_url_search_st(ld.get(), url.c_str(), 0, nullptr, &result);
    MessagePtr owned(result);
    if (rc != LDAP_SUCCESS) {
        failed("search of " + url, rc);
    }
    return valuesOf(ld.get(), result);
}
