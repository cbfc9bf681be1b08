// status: every revocation list held under a base entry and how fresh it is.
// The entries are found with a paged search, so that a directory larger than
// the server's size limit is covered whole; the plug-in has no such search, so
// this command talks to the toolkit's LDAP library itself. Each list is
// decoded once, its signature checked with the CA certificates the directory
// holds for its issuer, and judged OK, WARNING or CRITICAL. Written as a table,
// as JSON, or as the one status line with performance data and the exit status
// that monitoring systems expect.
#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/decoder.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "password.h"
#include "ryxldap.h"
#include "ryxldapptr.h"
#include "ryxopensslptr.h"
#include "status.h"
#include "timetext.h"

namespace ryxdir {

struct StatusSettings {
    std::string warn = "3d";
    std::string crit = "1d";
    std::string at;  // empty: now
    bool plugin = false;
    std::string pageSize = "500";
};

namespace {

// Monitoring systems' exit statuses.
enum PluginStatus { PLUGIN_OK = 0, PLUGIN_WARNING = 1, PLUGIN_CRITICAL = 2, PLUGIN_UNKNOWN = 3 };

enum class State { Ok, Warning, Critical };  // in rising severity

const char* stateName(State s) {
    return s == State::Ok ? "OK" : s == State::Warning ? "WARNING" : "CRITICAL";
}

StatusSettings& own(Settings& s) {
    return made(s.status);
}

void setWarn(Settings& s, const char* v) {
    own(s).warn = v;
}
void setCrit(Settings& s, const char* v) {
    own(s).crit = v;
}
void setAt(Settings& s, const char* v) {
    own(s).at = v;
}
void setPlugin(Settings& s, const char*) {
    own(s).plugin = true;
}
void setPageSize(Settings& s, const char* v) {
    own(s).pageSize = v;
}

const cmdline::Option kStatusOptions[] = {
    {"--warn", "DURATION",
     "WARNING when the next update is this close (default 3d; a number with\n"
     "s, m, h, d or w, seconds without)",
     set<setWarn>},
    {"--crit", "DURATION", "CRITICAL when the next update is this close (default 1d)",
     set<setCrit>},
    {"--at", "TIME", "judge at TIME (YYYY-MM-DDTHH:MM:SSZ or seconds since 1970), not now",
     set<setAt>},
    {"--plugin", nullptr,
     "write one status line with performance data, the lists that need care\n"
     "after it, and exit 0 OK, 1 WARNING, 2 CRITICAL or 3 UNKNOWN",
     set<setPlugin>},
    {"--page-size", "N", "entries per page of the search (default 500)", set<setPageSize>},
    {nullptr, nullptr, nullptr, nullptr},
};

// "90", "90s", "15m", "12h", "3d", "2w"; at most ten years.
long long parseDuration(const std::string& text, const char* option) {
    size_t digits = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) {
        ++digits;
    }
    const std::string unit = text.substr(digits);
    static const std::map<std::string, long long> kUnits = {
        {"", 1}, {"s", 1}, {"m", 60}, {"h", 3600}, {"d", 86400}, {"w", 7 * 86400}};
    const auto u = kUnits.find(unit);
    if (digits == 0 || digits > 9 || u == kUnits.end() ||
        std::stoll(text.substr(0, digits)) * u->second > 10LL * 366 * 86400) {
        usageError(std::string("bad duration \"") + text + "\" for " + option +
                   " (a number with s, m, h, d or w, at most ten years)");
    }
    return std::stoll(text.substr(0, digits)) * u->second;
}

// What the handler works with, the command line's text checked.
struct Limits {
    long long warn = 0, crit = 0;
    std::time_t now = 0;
    int pageSize = 500;
};

Limits limitsOf(const StatusSettings& s) {
    Limits l;
    l.warn = parseDuration(s.warn, "--warn");
    l.crit = parseDuration(s.crit, "--crit");
    l.now = std::time(nullptr);
    if (!s.at.empty() && !parseTime(s.at, l.now)) {
        usageError("bad time \"" + s.at + "\" for --at");
    }
    l.pageSize = cmdline::integer(s.pageSize.c_str(), "page size", 1, 100000);
    return l;
}

// ------------------------------------------------------------------ the lists

using NamePtr = ryx::UniquePtr<X509_NAME>;

// One revocation list as found and judged.
struct ListStatus {
    std::string entry;  // its entry's DN
    bool arl = false;   // held in authorityRevocationList
    ryx::UniquePtr<X509_CRL> crl;
    std::string issuerKey;  // the issuer's DER, for grouping and the certificates
    std::string issuer;     // as text (RFC 4514)
    std::string number;     // decimal; empty without a number
    ryx::UniquePtr<BIGNUM> numberValue;
    bool delta = false;
    std::time_t thisUpdate = 0;
    bool hasNext = false;
    std::time_t nextUpdate = 0;
    long long left = 0;  // seconds until the next update
    long entries = 0;
    std::string signature;  // good, bad, no issuer certificate, or empty when undecoded
    State state = State::Ok;
    std::string reason;  // why not OK
};

std::string nameText(const X509_NAME* name) {
    ryx::UniquePtr<BIO> bio(BIO_new(BIO_s_mem()));
    X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253);
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(n));
}

std::string derOf(const X509_NAME* name) {
    const unsigned char* der = nullptr;
    size_t length = 0;
    X509_NAME_get0_der(const_cast<X509_NAME*>(name), &der, &length);
    return std::string(reinterpret_cast<const char*>(der), length);
}

std::string isoTime(std::time_t t) {
    struct tm tm = {};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

std::time_t timeOf(const ASN1_TIME* t) {
    struct tm tm = {};
    ASN1_TIME_to_tm(t, &tm);
    return timegm(&tm);
}

// Decodes the list; false when the value is no list.
bool decode(ListStatus& l, const berval& value) {
    const auto* p = reinterpret_cast<const unsigned char*>(value.bv_val);
    l.crl.reset(d2i_X509_CRL(nullptr, &p, static_cast<long>(value.bv_len)));
    if (l.crl == nullptr) {
        l.state = State::Critical;
        l.reason = "not a revocation list";
        return false;
    }
    X509_CRL* crl = l.crl.get();
    l.issuerKey = derOf(X509_CRL_get_issuer(crl));
    l.issuer = nameText(X509_CRL_get_issuer(crl));
    ryx::UniquePtr<ASN1_STRING> number(
        static_cast<ASN1_INTEGER*>(X509_CRL_get_ext_d2i(crl, NID_crl_number, nullptr, nullptr)));
    if (number != nullptr) {
        l.numberValue.reset(ASN1_INTEGER_to_BN(number.get(), nullptr));
        ryx::UniquePtr<char> text(BN_bn2dec(l.numberValue.get()));
        l.number = text.get();
    }
    l.delta = X509_CRL_get_ext_by_NID(crl, NID_delta_crl, -1) >= 0;
    l.thisUpdate = timeOf(X509_CRL_get0_lastUpdate(crl));
    l.hasNext = X509_CRL_get0_nextUpdate(crl) != nullptr;
    if (l.hasNext) {
        l.nextUpdate = timeOf(X509_CRL_get0_nextUpdate(crl));
    }
    l.entries = std::max(0, sk_X509_REVOKED_num(X509_CRL_get_REVOKED(crl)));  // none: -1
    return true;
}

// The public keys (subjectPublicKeyInfo, DER) of the CA certificates found,
// by their subject's DER. Only the keys of the issuers of lists are decoded.
using CaCertificates = std::map<std::string, std::vector<std::string>>;

// Reads the header of one element of der[*at, end) with a definite length
// that fits; false otherwise.
bool header(const unsigned char*& at, const unsigned char* end, long& length, int& tag) {
    int cls = 0;
    const int read = ASN1_get_object(&at, &length, &tag, &cls, end - at);
    return (read & 0x81) == 0 && length <= end - at;  // 0x80: error, 0x01: indefinite
}

// Skips one element of der[*at, end); false when there is none.
bool skipElement(const unsigned char*& at, const unsigned char* end) {
    long length = 0;
    int tag = 0;
    if (!header(at, end, length, tag)) {
        return false;
    }
    at += length;
    return true;
}

// The subject and the subjectPublicKeyInfo of a certificate, read from its
// encoding: decoding it whole would decode its key too, which costs more than
// the rest of a list's check together.
bool certificateParts(const berval& value, std::string& subject, std::string& keyInfo) {
    const auto* at = reinterpret_cast<const unsigned char*>(value.bv_val);
    const unsigned char* end = at + value.bv_len;
    long length = 0;
    int tag = 0;
    for (int level = 0; level < 2; ++level) {  // Certificate, then TBSCertificate
        if (!header(at, end, length, tag) || tag != V_ASN1_SEQUENCE) {
            return false;
        }
        end = at + length;
    }
    if (at < end && *at == 0xa0 && !skipElement(at, end)) {  // [0] version
        return false;
    }
    for (int field = 0; field < 4; ++field) {  // serial, signature, issuer, validity
        if (!skipElement(at, end)) {
            return false;
        }
    }
    const unsigned char* subjectAt = at;
    if (!skipElement(at, end)) {
        return false;
    }
    const unsigned char* keyAt = at;
    if (!skipElement(at, end)) {
        return false;
    }
    subject.assign(reinterpret_cast<const char*>(subjectAt), keyAt - subjectAt);
    keyInfo.assign(reinterpret_cast<const char*>(keyAt), at - keyAt);
    return true;
}

// Public keys from their subjectPublicKeyInfo, with one decoder context for
// all: making a context per key is what makes decoding a key slow.
class KeyDecoder {
  public:
    KeyDecoder()
        : m_context(OSSL_DECODER_CTX_new_for_pkey(&m_key, "DER", "SubjectPublicKeyInfo", nullptr,
                                                  EVP_PKEY_PUBLIC_KEY, nullptr, nullptr)) {}
    KeyDecoder(const KeyDecoder&) = delete;
    KeyDecoder& operator=(const KeyDecoder&) = delete;

    ryx::UniquePtr<EVP_PKEY> decode(const std::string& keyInfo) {
        m_key = nullptr;
        const auto* at = reinterpret_cast<const unsigned char*>(keyInfo.data());
        size_t length = keyInfo.size();
        const bool decoded =
            m_context && OSSL_DECODER_from_data(m_context.get(), &at, &length) == 1;
        ryx::UniquePtr<EVP_PKEY> key(m_key);  // also what a failed decode left
        m_key = nullptr;
        return decoded ? std::move(key) : nullptr;
    }

  private:
    EVP_PKEY* m_key = nullptr;  // where the context puts each key it decodes
    ryx::UniquePtr<OSSL_DECODER_CTX> m_context;
};

void raise(ListStatus& l, State s, const std::string& why) {
    if (s > l.state) {
        l.state = s;
    }
    l.reason += (l.reason.empty() ? "" : "; ") + why;
}

std::string duration(long long seconds);

void judgeTime(ListStatus& l, const Limits& limits) {
    if (!l.hasNext) {
        return;
    }
    l.left = static_cast<long long>(l.nextUpdate) - limits.now;
    if (l.left < 0) {
        raise(l, State::Critical, "next update passed " + duration(-l.left) + " ago");
    } else if (l.left <= limits.crit) {
        raise(l, State::Critical, "next update in " + duration(l.left));
    } else if (l.left <= limits.warn) {
        raise(l, State::Warning, "next update in " + duration(l.left));
    }
}

void judgeSignature(ListStatus& l, const CaCertificates& cas, KeyDecoder& keys) {
    const auto found = cas.find(l.issuerKey);
    if (found == cas.end() || found->second.empty()) {
        l.signature = "no issuer certificate";
        raise(l, State::Warning, "no CA certificate of the issuer in the directory");
        return;
    }
    for (const std::string& keyInfo : found->second) {
        const ryx::UniquePtr<EVP_PKEY> key = keys.decode(keyInfo);
        if (key != nullptr && X509_CRL_verify(l.crl.get(), key.get()) == 1) {
            l.signature = "good";
            return;
        }
    }
    l.signature = "bad";
    raise(l, State::Critical, "signature does not verify with the issuer's CA certificates");
}

// True when a is older than b: a lower number, or without numbers an
// earlier this update.
bool older(const ListStatus& a, const ListStatus& b) {
    if (a.numberValue != nullptr && b.numberValue != nullptr) {
        return BN_cmp(a.numberValue.get(), b.numberValue.get()) < 0;
    }
    return a.thisUpdate < b.thisUpdate;
}

// A list beside a newer one of the same issuer and scope in the same
// attribute of the same entry. The lists are grouped first: a directory holds
// thousands of entries with one list each.
void judgeOlder(std::vector<ListStatus>& lists) {
    std::map<std::string, std::vector<ListStatus*>> groups;
    for (ListStatus& l : lists) {
        if (l.crl != nullptr) {
            const std::string scope = (l.arl ? "A" : "C") + std::string(l.delta ? "D" : "F");
            groups[l.entry + '\0' + scope + l.issuerKey].push_back(&l);
        }
    }
    for (auto& group : groups) {
        const std::vector<ListStatus*>& g = group.second;
        const auto newest = *std::max_element(
            g.begin(), g.end(),
            [](const ListStatus* a, const ListStatus* b) { return older(*a, *b); });
        for (ListStatus* l : g) {
            if (older(*l, *newest)) {
                raise(*l, State::Critical,
                      "older than list " +
                          (newest->number.empty() ? "of " + isoTime(newest->thisUpdate)
                                                  : "number " + newest->number) +
                          " beside it");
            }
        }
    }
}

// ------------------------------------------------------------------ the directory

using Ldap = ryx::UniquePtr<LDAP, ryx::RyxUnbind>;
using Message = ryx::UniquePtr<LDAPMessage, ryx::RyxMsgfree>;
using Values = ryx::UniquePtr<berval*, ryx::RyxValueFree>;
using LdapText = ryx::UniquePtr<char, ryx::RyxMemfree>;
using Walk = ryx::UniquePtr<BerElement, ryx::RyxBerFree>;

[[noreturn]] void directoryError(int rc, const std::string& what) {
    fail(EXIT_DIRECTORY, what + ": error " + std::to_string(rc) + ": " + ryx_ldap_err2string(rc));
}

Ldap connect(Settings& s) {
    ConnectionSettings& c = s.connection;
    if (!c.driverPath.empty()) {
        usageError("status searches with the toolkit's own LDAP library; -L does not apply");
    }
    settleServer(c);
    if (c.promptPassword) {
        c.password = promptPassword("Enter LDAP password: ");
    }
    configureLdapLibrary(c);
    Ldap ld(ryx_ldap_init(c.host.c_str(), c.port));
    if (ld == nullptr) {
        fail(EXIT_DIRECTORY, "out of memory");
    }
    ryx_ldap_set_option(ld.get(), LDAP_OPT_PROTOCOL_VERSION, &c.protocol);
    if (!c.bindDN.empty() || !c.password.empty()) {
        const int rc =
            ryx_ldap_simple_bind_s(ld.get(), c.bindDN.c_str(), c.password.text().c_str());
        c.password.clear();
        if (rc != LDAP_SUCCESS) {
            directoryError(rc, "bind as \"" + c.bindDN + "\"");
        }
    }
    return ld;
}

enum class Kind { Crl, Arl, Ca, Other };

Kind kindOf(const char* attribute) {
    std::string name = attribute;
    const size_t semicolon = name.find(';');
    if (semicolon != std::string::npos) {
        if (strcasecmp(name.c_str() + semicolon, ";binary") != 0) {
            return Kind::Other;
        }
        name.resize(semicolon);
    }
    return strcasecmp(name.c_str(), "certificateRevocationList") == 0 ? Kind::Crl
           : strcasecmp(name.c_str(), "authorityRevocationList") == 0 ? Kind::Arl
           : strcasecmp(name.c_str(), "cACertificate") == 0           ? Kind::Ca
                                                                      : Kind::Other;
}

struct Harvest {
    std::vector<ListStatus> lists;
    CaCertificates cas;
};

void takeCertificate(CaCertificates& cas, const berval& value) {
    std::string subject, keyInfo;
    if (certificateParts(value, subject, keyInfo)) {
        cas[subject].push_back(std::move(keyInfo));
    }
}

// The DER a value holds: itself, or for text marked "{ASN}" the bytes its hex
// digits spell (up to a NUL); digits that do not pair leave it as it is, to
// fail as a value that does not decode.
std::string derOfValue(const berval& value) {
    std::string bytes(value.bv_val, value.bv_len);
    if (bytes.compare(0, 5, "{ASN}") != 0 && bytes.compare(0, 5, "{Asn}") != 0) {
        return bytes;
    }
    const std::string hex = bytes.substr(5, bytes.find('\0') - 5);
    std::string der;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        const int high = OPENSSL_hexchar2int(static_cast<unsigned char>(hex[i]));
        const int low = OPENSSL_hexchar2int(static_cast<unsigned char>(hex[i + 1]));
        if (high < 0 || low < 0) {
            return bytes;
        }
        der.push_back(static_cast<char>(high * 16 + low));
    }
    return hex.size() % 2 == 0 ? der : bytes;
}

void takeEntry(LDAP* ld, LDAPMessage* entry, Harvest& found) {
    LdapText dn(ryx_ldap_get_dn(ld, entry));
    BerElement* ber = nullptr;
    for (LdapText name(ryx_ldap_first_attribute(ld, entry, &ber)); name != nullptr;
         name.reset(ryx_ldap_next_attribute(ld, entry, ber))) {
        const Kind kind = kindOf(name.get());
        if (kind == Kind::Other) {
            continue;
        }
        Values values(ryx_ldap_get_values_len(ld, entry, name.get()));
        for (berval** v = values.get(); v != nullptr && *v != nullptr; ++v) {
            std::string der = derOfValue(**v);
            const berval value{static_cast<ber_len_t>(der.size()), &der[0]};
            if (kind == Kind::Ca) {
                takeCertificate(found.cas, value);
                continue;
            }
            ListStatus l;
            l.entry = dn != nullptr ? dn.get() : "";
            l.arl = kind == Kind::Arl;
            decode(l, value);
            found.lists.push_back(std::move(l));
        }
    }
    Walk walk(ber);
}

char kCrlName[] = "certificateRevocationList";
char kArlName[] = "authorityRevocationList";
char kCaName[] = "cACertificate";
char* kAttributes[] = {kCrlName, kArlName, kCaName, nullptr};
const char kFilter[] =
    "(|(certificateRevocationList=*)(authorityRevocationList=*)(cACertificate=*))";
// A server that never ends its pages is given up on.
const int kMaxPages = 1000000;

struct Cookie {
    berval value{0, nullptr};
    ~Cookie() { ryx_ldap_memfree(value.bv_val); }
};

void searchAll(LDAP* ld, const std::string& base, int pageSize, Harvest& found) {
    Cookie cookie;
    for (int page = 0; page < kMaxPages; ++page) {
        LDAPMessage* raw = nullptr;
        const int rc = ryx_ldap_search_page_st(ld, base.c_str(), LDAP_SCOPE_SUBTREE, kFilter,
                                               kAttributes, pageSize, &cookie.value, &raw);
        Message result(raw);
        if (rc != LDAP_SUCCESS) {
            directoryError(rc, "paged search under \"" + base + "\"");
        }
        for (LDAPMessage* e = ryx_ldap_first_entry(ld, raw); e != nullptr;
             e = ryx_ldap_next_entry(ld, e)) {
            takeEntry(ld, e, found);
        }
        if (cookie.value.bv_len == 0) {
            return;
        }
    }
    fail(EXIT_DIRECTORY, "paged search under \"" + base + "\": the server never ended it");
}

// The CA certificates of issuers whose entries lie outside the search, read
// from the entry each issuer's name names; a missing entry just has none.
void findOtherIssuers(LDAP* ld, Harvest& found) {
    std::map<std::string, std::string> missing;  // DER -> DN
    for (const ListStatus& l : found.lists) {
        if (l.crl != nullptr && found.cas.count(l.issuerKey) == 0) {
            missing[l.issuerKey] = l.issuer;
        }
    }
    char* caOnly[] = {kCaName, nullptr};
    for (const auto& m : missing) {
        LDAPMessage* raw = nullptr;
        const int rc = ryx_ldap_search_st(ld, m.second.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)",
                                          caOnly, 0, nullptr, &raw);
        Message result(raw);
        if (rc == LDAP_SUCCESS) {
            for (LDAPMessage* e = ryx_ldap_first_entry(ld, raw); e != nullptr;
                 e = ryx_ldap_next_entry(ld, e)) {
                takeEntry(ld, e, found);
            }
        }
    }
}

// ------------------------------------------------------------------ writers

std::string duration(long long seconds) {
    const char* sign = seconds < 0 ? "-" : "";
    const long long s = seconds < 0 ? -seconds : seconds;
    const auto part = [](long long v, const char* unit) { return std::to_string(v) + unit; };
    if (s >= 86400) {
        return sign + part(s / 86400, "d") + (s % 86400 >= 3600 ? part(s % 86400 / 3600, "h") : "");
    }
    if (s >= 3600) {
        return sign + part(s / 3600, "h") + (s % 3600 >= 60 ? part(s % 3600 / 60, "m") : "");
    }
    return s >= 60 ? sign + part(s / 60, "m") : sign + part(s, "s");
}

struct Counts {
    size_t ok = 0, warning = 0, critical = 0;
    State worst = State::Ok;
    const ListStatus* soonest = nullptr;  // the decoded list with the least time left
};

Counts count(const std::vector<ListStatus>& lists) {
    Counts c;
    for (const ListStatus& l : lists) {
        (l.state == State::Ok ? c.ok : l.state == State::Warning ? c.warning : c.critical)++;
        c.worst = std::max(c.worst, l.state);
        if (l.hasNext && (c.soonest == nullptr || l.left < c.soonest->left)) {
            c.soonest = &l;
        }
    }
    return c;
}

std::string kindName(const ListStatus& l) {
    return std::string(l.arl ? "ARL" : "CRL") + (l.delta ? " delta" : "");
}

std::vector<std::string> row(const ListStatus& l) {
    if (l.crl == nullptr) {
        return {
            stateName(l.state), kindName(l), "-", "-", "-", "-", "-", "-", l.entry, "-", l.reason};
    }
    return {stateName(l.state),
            kindName(l),
            l.number.empty() ? "-" : l.number,
            isoTime(l.thisUpdate),
            l.hasNext ? isoTime(l.nextUpdate) : "-",
            l.hasNext ? duration(l.left) : "-",
            std::to_string(l.entries),
            l.signature,
            l.entry,
            l.issuer,
            l.reason};
}

void writeTable(Output& out, const std::vector<ListStatus>& lists, const Counts& c) {
    std::vector<std::vector<std::string>> rows = {{"STATE", "KIND", "NUMBER", "THIS UPDATE",
                                                   "NEXT UPDATE", "LEFT", "ENTRIES", "SIGNATURE",
                                                   "ENTRY", "ISSUER", "WHY"}};
    for (const ListStatus& l : lists) {
        rows.push_back(row(l));
    }
    std::vector<size_t> width(rows[0].size(), 0);
    for (const auto& r : rows) {
        for (size_t i = 0; i < r.size(); ++i) {
            width[i] = std::max(width[i], r[i].size());
        }
    }
    for (const auto& r : rows) {
        std::string text;
        for (size_t i = 0; i < r.size(); ++i) {
            text += i + 1 < r.size() ? r[i] + std::string(width[i] - r[i].size() + 2, ' ') : r[i];
        }
        text.erase(text.find_last_not_of(' ') + 1);
        out.line(text);
    }
    out.line(std::to_string(lists.size()) + " lists: " + std::to_string(c.ok) + " OK, " +
             std::to_string(c.warning) + " WARNING, " + std::to_string(c.critical) + " CRITICAL");
}

void writeJson(Output& out, const std::string& base, const Limits& limits,
               const std::vector<ListStatus>& lists, const Counts& c) {
    JsonWriter& j = out.document();
    j.member("base", base);
    j.member("at", isoTime(limits.now));
    j.member("warnSeconds", limits.warn);
    j.member("critSeconds", limits.crit);
    j.member("state", stateName(c.worst));
    j.key("lists");
    j.beginArray();
    for (const ListStatus& l : lists) {
        j.beginObject();
        j.member("entry", l.entry);
        j.member("kind", kindName(l));
        j.member("state", stateName(l.state));
        j.member("reason", l.reason);
        if (l.crl != nullptr) {
            j.member("issuer", l.issuer);
            j.key("number");
            l.number.empty() ? j.null() : j.value(l.number);
            j.member("thisUpdate", isoTime(l.thisUpdate));
            if (l.hasNext) {
                j.member("nextUpdate", isoTime(l.nextUpdate));
                j.member("secondsLeft", l.left);
            }
            j.member("entries", l.entries);
            j.member("signature", l.signature);
        }
        j.endObject();
    }
    j.endArray();
}

// One line "RYXDIR CRL STATE - summary | performance data", then one line for
// each list that needs care.
int writePlugin(Output& out, const Limits& limits, const std::vector<ListStatus>& lists,
                const Counts& c) {
    std::string summary;
    if (c.worst == State::Ok) {
        summary = std::to_string(lists.size()) + " lists";
        if (c.soonest != nullptr) {
            summary += ", next update in " + duration(c.soonest->left) + " at the soonest (" +
                       c.soonest->entry + ")";
        }
    } else {
        summary = std::to_string(c.critical) + " critical, " + std::to_string(c.warning) +
                  " warning of " + std::to_string(lists.size()) + " lists";
        for (const ListStatus& l : lists) {
            if (l.state == c.worst) {
                summary += ": " + l.entry + " " + kindName(l) + ": " + l.reason;
                break;
            }
        }
    }
    std::string perf = "lists=" + std::to_string(lists.size()) + " ok=" + std::to_string(c.ok) +
                       " warning=" + std::to_string(c.warning) +
                       " critical=" + std::to_string(c.critical);
    if (c.soonest != nullptr) {
        perf += " left_min=" + std::to_string(c.soonest->left) + "s;" +
                std::to_string(limits.warn) + ":;" + std::to_string(limits.crit) + ":";
    }
    out.line(std::string("RYXDIR CRL ") + stateName(c.worst) + " - " + summary + " | " + perf);
    for (const ListStatus& l : lists) {
        if (l.state != State::Ok) {
            out.line(std::string(stateName(l.state)) + ": " + l.entry + " " + kindName(l) + ": " +
                     l.reason);
        }
    }
    return c.worst == State::Ok        ? PLUGIN_OK
           : c.worst == State::Warning ? PLUGIN_WARNING
                                       : PLUGIN_CRITICAL;
}

// ------------------------------------------------------------------ the command

std::vector<ListStatus> judgeAll(Settings& s, const Limits& limits) {
    Ldap ld = connect(s);
    Harvest found;
    searchAll(ld.get(), s.operand, limits.pageSize, found);
    findOtherIssuers(ld.get(), found);
    KeyDecoder keys;
    for (ListStatus& l : found.lists) {
        if (l.crl != nullptr) {
            judgeSignature(l, found.cas, keys);
            judgeTime(l, limits);
        }
    }
    judgeOlder(found.lists);
    return std::move(found.lists);
}

int report(Settings& s, Output& out) {
    if (own(s).plugin && out.json()) {
        usageError("--plugin writes its own lines, not -f json");
    }
    const Limits limits = limitsOf(own(s));
    const std::vector<ListStatus> lists = judgeAll(s, limits);
    const Counts c = count(lists);
    if (own(s).plugin) {
        if (lists.empty()) {
            out.line("RYXDIR CRL UNKNOWN - no revocation list under " + s.operand);
            return PLUGIN_UNKNOWN;
        }
        return writePlugin(out, limits, lists, c);
    }
    if (out.json()) {
        writeJson(out, s.operand, limits, lists, c);
    } else {
        writeTable(out, lists, c);
    }
    if (lists.empty()) {
        note("no revocation list under " + s.operand);
        return EXIT_NONE;
    }
    return c.worst == State::Ok ? EXIT_FOUND : EXIT_INVALID;
}

// With --plugin every failure is UNKNOWN, told on the status line.
int runStatus(Settings& s, Output& out) {
    if (!own(s).plugin) {
        return report(s, out);
    }
    try {
        return report(s, out);
    } catch (const Failure& f) {
        out.line("RYXDIR CRL UNKNOWN - " + f.message);
    } catch (const std::exception& e) {
        out.line(std::string("RYXDIR CRL UNKNOWN - ") + e.what());
    }
    return PLUGIN_UNKNOWN;
}

}  // namespace

const Command kStatusCommand = {
    {"status", "BASE",
     "every revocation list under BASE (paged search): number, updates, time\n"
     "left, entries, signature and a state; exit status 0 all OK, 1 none found,\n"
     "6 some WARNING or CRITICAL (--plugin: 0, 1, 2, 3)",
     kStatusOptions, false},
    "text json",
    Format::Text,
    runStatus,
    nullptr};

}  // namespace ryxdir
