// publish: writes a revocation list or a certificate into the directory
// through the plug-in's own LDAP client. A list goes to the entry named by its
// issuer (or --entry) only when its signature verifies with a CA certificate
// of the issuer, its number is newer than the lists it replaces and it is not
// past its next update; one modify replaces the old list, and the value is
// read back. The attribute description (";binary" or not) comes from the
// entry's values or the server's schema.
#include <openssl/x509v3.h>

#include <cctype>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>

#include "commands.h"
#include "describe.h"
#include "ldapclient.h"
#include "ldapsearchresults.h"
#include "password.h"
#include "publishcheck.h"
#include "ryxexception.h"
#include "status.h"

namespace ryxdir {

struct PublishSettings {
    std::string entry;       // --entry: the target instead of the object's own name
    std::string to;          // --to: an LDAP URL naming the entry and attribute
    std::string issuerCert;  // --issuer-cert: checks the signature instead of the directory
    bool arl = false;
    bool force = false;
    bool create = false;
    bool dryRun = false;
    bool replace = false;
};

namespace {

PublishSettings& own(Settings& s) {
    return made(s.publish);
}

void setEntry(Settings& s, const char* v) {
    own(s).entry = v;
}
void setTo(Settings& s, const char* v) {
    own(s).to = v;
}
void setIssuerCert(Settings& s, const char* v) {
    own(s).issuerCert = v;
}
void setArl(Settings& s, const char*) {
    own(s).arl = true;
}
void setForce(Settings& s, const char*) {
    own(s).force = true;
}
void setCreate(Settings& s, const char*) {
    own(s).create = true;
}
void setDryRun(Settings& s, const char*) {
    own(s).dryRun = true;
}
void setReplace(Settings& s, const char*) {
    own(s).replace = true;
}

const cmdline::Option kPublishOptions[] = {
    {"--entry", "DN", "write into entry DN (a distribution point's) instead of the issuer's",
     set<setEntry>},
    {"--to", "LDAP-URL",
     "crl: write into the entry and attribute the URL names (a distribution\n"
     "point's), on the URL's server when it names one",
     set<setTo>},
    {"--issuer-cert", "FILE", "crl: check the signature with this CA certificate (PEM or DER)",
     set<setIssuerCert>},
    {"--arl", nullptr, "crl: write to authorityRevocationList", set<setArl>},
    {"--force", nullptr, "crl: skip the number and next-update checks (never the signature)",
     set<setForce>},
    {"--create", nullptr, "add the entry when it is missing", set<setCreate>},
    {"-n", nullptr, "show what would change and change nothing", set<setDryRun>},
    {"--replace", nullptr, "cert: replace the attribute's values instead of adding",
     set<setReplace>},
    {nullptr, nullptr, nullptr, nullptr},
};

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    if (!in || !(bytes << in.rdbuf())) {
        fail(EXIT_USAGE, "cannot read " + path);
    }
    return bytes.str();
}

bool equalNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// "name" or "name;option..." for base.
bool describes(const std::string& description, const std::string& base) {
    return equalNoCase(description.substr(0, description.find(';')), base);
}

// One attribute value as the server sent it (text without the NUL the client adds).
struct Value {
    std::string attribute;
    std::string bytes;
};

std::string bytesOf(const RYXBuffer& buffer) {
    const unsigned char* p = buffer.getValue();
    size_t length = buffer.getLength();
    if (length > 0 && p[length - 1] == 0 && isPrintable(p, static_cast<int>(length) - 1)) {
        --length;
    }
    return std::string(reinterpret_cast<const char*>(p), length);
}

// What an LDAP URL names.
struct UrlTarget {
    std::string dn;
    std::string attribute;  // type without options; empty when the URL names none
};

// The plug-in's LDAP client, bound with the command line's credentials, on
// the server of url when it names one.
class Target {
  public:
    Target(Settings& s, const std::string& url, UrlTarget& named) {
        ConnectionSettings& c = s.connection;
        settleServer(c);
        c.foldBinary = false;  // the descriptions as the server names them
        configureLdapLibrary(c);
        if (c.promptPassword) {
            c.password = promptPassword("Enter LDAP password: ");
        }
        const char* dn = c.bindDN.empty() ? nullptr : c.bindDN.c_str();
        const std::string& password = c.password.text();
        guarded([&] {
            m_client = std::make_unique<LDAPClient>(c.host.c_str(), c.driverPath.c_str(), nullptr,
                                                    c.port, c.protocol);
            if (url.empty()) {
                m_client->login(dn, dn == nullptr ? nullptr : password.c_str());
                return;
            }
            std::string host;
            int port = c.port;
            parseUrl(url, named, host, port);
            m_client->login(RYXConstString(host.empty() ? c.host.c_str() : host.c_str()), port,
                            RYXConstString(c.bindDN.c_str()),
                            RYXASNCBuffer(reinterpret_cast<const unsigned char*>(password.data()),
                                          static_cast<unsigned>(password.size())));
        });
        c.password.clear();
    }

    // The values of base (under any of its descriptions) in dn; false when
    // there is no such entry.
    bool read(const std::string& dn, const std::string& base, std::vector<Value>& values) {
        values.clear();
        char* attrs[] = {const_cast<char*>(base.c_str()), nullptr};
        if (!search(dn, "(objectClass=*)", attrs)) {
            return false;
        }
        LDAPSearchResults results(*m_client);
        for (LDAPEntry* entry = results.next(); entry != nullptr; entry = results.next()) {
            for (const auto& pair : *entry) {
                if (describes(pair.first, base)) {
                    values.push_back(Value{pair.first, bytesOf(*pair.second)});
                }
            }
        }
        return true;
    }

    // The description the server's schema wants for base: "base;binary" for
    // the syntaxes that need binary transfer, else base.
    std::string description(const std::string& base) {
        std::vector<Value> values;
        read("", "subschemaSubentry", values);
        if (values.empty()) {
            fail(EXIT_DIRECTORY, "the server names no subschema subentry");
        }
        read(values[0].bytes, "attributeTypes", values);
        for (const Value& v : values) {
            if (namesType(v.bytes, base)) {
                return needsBinary(v.bytes) ? base + ";binary" : base;
            }
        }
        fail(EXIT_DIRECTORY, "the server's schema has no attribute type " + base);
    }

    // Replaces the values of attribute in dn (add: a new entry with classes).
    void write(const std::string& dn, const std::string& attribute,
               const std::vector<std::string>& values, const std::vector<std::string>* classes) {
        LDAPEntry entry;
        for (const std::string& v : values) {
            entry.addAttribute(attribute.c_str(), v.data(), static_cast<unsigned>(v.size()));
        }
        if (classes != nullptr) {
            for (const std::string& c : *classes) {
                entry.addAttribute("objectClass", c.c_str(), 0);
            }
            const size_t eq = dn.find('=');
            entry.addAttribute(dn.substr(0, eq).c_str(), rdnValue(dn).c_str(), 0);
        }
        const bool done = guarded([&] {
            return classes != nullptr ? m_client->addEntry(&entry, dn.c_str())
                                      : m_client->modifyEntry(&entry, dn.c_str());
        });
        if (!done) {
            const int rc = m_client->m_lastError;
            const char* why = m_client->errorMessage(rc);
            fail(EXIT_DIRECTORY, std::string("the server refused to ") +
                                     (classes != nullptr ? "add " : "modify ") + dn + ": " +
                                     (why != nullptr ? why : "error") + " (" + std::to_string(rc) +
                                     ")");
        }
    }

  private:
    void parseUrl(const std::string& url, UrlTarget& named, std::string& host, int& port) {
        LDAPURLDesc* desc = nullptr;
        if (m_client->m_ldap_url_parse == nullptr ||
            m_client->m_ldap_url_parse(url.c_str(), &desc) != 0 || desc == nullptr ||
            desc->lud_dn == nullptr || *desc->lud_dn == '\0') {
            fail(EXIT_USAGE, "--to needs an LDAP URL that names an entry: " + url);
        }
        named.dn = desc->lud_dn;
        if (desc->lud_attrs != nullptr && desc->lud_attrs[0] != nullptr) {
            named.attribute = desc->lud_attrs[0];
            named.attribute = named.attribute.substr(0, named.attribute.find(';'));
        }
        if (desc->lud_host != nullptr && *desc->lud_host != '\0') {
            host = desc->lud_host;
            port = desc->lud_port != 0 ? desc->lud_port : 389;
        }
        m_client->m_ldap_free_urldesc(desc);
    }

    template <typename Call>
    static auto guarded(Call call) -> decltype(call()) {
        try {
            return call();
        } catch (const RYXException& e) {
            fail(EXIT_DIRECTORY, e.getMessage().c_str());
        }
    }

    // False for a missing entry.
    bool search(const std::string& dn, const char* filter, char** attrs) {
        try {
            m_client->search(dn.c_str(), 0, filter, attrs, 0);
            return true;
        } catch (const RYXException& e) {
            if (m_client->m_lastError == LDAP_NO_SUCH_OBJECT) {
                return false;
            }
            fail(EXIT_DIRECTORY, e.getMessage().c_str());
        }
    }

    // An attributeTypes value that names base.
    static bool namesType(const std::string& definition, const std::string& base) {
        const size_t at = definition.find(" NAME ");
        if (at == std::string::npos) {
            return false;
        }
        const size_t end = definition.find_first_of(")", at);
        const std::string names = " " + definition.substr(at + 6, end - at - 6) + " ";
        for (size_t q = names.find('\''); q != std::string::npos; q = names.find('\'', q + 1)) {
            const size_t close = names.find('\'', q + 1);
            if (close == std::string::npos) {
                return false;
            }
            if (equalNoCase(names.substr(q + 1, close - q - 1), base)) {
                return true;
            }
            q = close;
        }
        return false;
    }

    // Binary, certificate, certificate list and certificate pair syntaxes.
    static bool needsBinary(const std::string& definition) {
        const size_t at = definition.find(" SYNTAX ");
        if (at == std::string::npos) {
            return false;
        }
        const std::string oid =
            definition.substr(at + 8, definition.find_first_of(" {)", at + 8) - at - 8);
        const std::string prefix = "1.3.6.1.4.1.1466.115.121.1.";
        return oid == prefix + "5" || oid == prefix + "8" || oid == prefix + "9" ||
               oid == prefix + "10";
    }

    // The first RDN's value, its escapes undone.
    static std::string rdnValue(const std::string& dn) {
        std::string value;
        for (size_t i = dn.find('=') + 1; i < dn.size() && dn[i] != ',' && dn[i] != '+'; ++i) {
            if (dn[i] == '\\' && i + 1 < dn.size()) {
                ++i;
            }
            value += dn[i];
        }
        return value;
    }

    std::unique_ptr<LDAPClient> m_client;
};

// Object classes for a new entry that holds attribute, from the RDN's type.
std::vector<std::string> classesFor(const std::string& dn, const std::string& attribute,
                                    bool distributionPoint) {
    const std::string type = dn.substr(0, dn.find('='));
    const std::string aux = attribute == "userCertificate" ? "pkiUser" : "pkiCA";
    if (equalNoCase(type, "cn")) {
        if (distributionPoint && aux == "pkiCA" && attribute != "cACertificate") {
            return {"cRLDistributionPoint"};
        }
        return {"applicationProcess", aux};
    }
    if (equalNoCase(type, "ou")) {
        return {"organizationalUnit", aux};
    }
    if (equalNoCase(type, "o")) {
        return {"organization", aux};
    }
    fail(EXIT_USAGE, "--create cannot choose object classes for an entry named by " + type);
}

// What a publication writes where.
struct Plan {
    std::string dn;
    std::string base;  // attribute type
    std::string attribute;
    std::vector<Value> current;
    bool missing = false;
    std::vector<std::string> values;  // the attribute's new values, the new one first
};

void readTarget(Target& target, Plan& plan, const PublishSettings& p) {
    plan.missing = !target.read(plan.dn, plan.base, plan.current);
    if (plan.missing && !p.create) {
        fail(EXIT_DIRECTORY, "no entry " + plan.dn + " in the directory (--create adds it)");
    }
    plan.attribute =
        plan.current.empty() ? target.description(plan.base) : plan.current[0].attribute;
}

// Writes the plan (or says what it would write) and reads the value back.
void carryOut(Target& target, const Plan& plan, const PublishSettings& p, bool list, Output& out) {
    const std::string verb = p.dryRun ? "would " : "";
    if (plan.missing) {
        const std::vector<std::string> classes =
            classesFor(plan.dn, plan.base, list && (!p.entry.empty() || !p.to.empty()));
        out.line(verb + "add entry " + plan.dn + " with " + plan.attribute);
        if (!p.dryRun) {
            target.write(plan.dn, plan.attribute, plan.values, &classes);
        }
    } else {
        out.line(verb + "replace " + plan.attribute + " of " + plan.dn + ": " +
                 std::to_string(plan.current.size()) + " value(s) by " +
                 std::to_string(plan.values.size()));
        if (!p.dryRun) {
            target.write(plan.dn, plan.attribute, plan.values, nullptr);
        }
    }
    if (p.dryRun) {
        return;
    }
    std::vector<Value> back;
    target.read(plan.dn, plan.base, back);
    for (const Value& v : back) {
        if (v.bytes == plan.values[0]) {
            out.line("read back from " + plan.dn + ": identical");
            return;
        }
    }
    fail(EXIT_DIRECTORY, "the value read back from " + plan.dn + " differs from the one written");
}

// The CA certificates that may have signed crl.
std::vector<ryx::UniquePtr<X509>> issuerCertificates(Target& target, const X509_CRL* crl,
                                                     const PublishSettings& p) {
    std::vector<ryx::UniquePtr<X509>> certs;
    if (!p.issuerCert.empty()) {
        DecodedCert d = decodeCert(readBytes(p.issuerCert));
        if (!d.object) {
            fail(EXIT_MALFORMED, p.issuerCert + " holds no well-formed certificate");
        }
        certs.push_back(std::move(d.object));
        return certs;
    }
    std::vector<Value> values;
    target.read(nameText(X509_CRL_get_issuer(crl)), "cACertificate", values);
    for (const Value& v : values) {
        DecodedCert d = decodeCert(derOfValue(v.bytes));
        if (d.object) {
            certs.push_back(std::move(d.object));
        }
    }
    return certs;
}

const int kStatusOf[] = {EXIT_FOUND, EXIT_SIGNATURE, EXIT_SIGNATURE, EXIT_NOT_NEWER, EXIT_EXPIRED};

int publishList(Settings& s, const std::string& file, Output& out) {
    const PublishSettings& p = *s.publish;
    const DecodedList list = decodeList(readBytes(file));
    if (!list.object) {
        fail(EXIT_MALFORMED, file + " holds no well-formed DER revocation list");
    }
    const X509_CRL* crl = list.object.get();
    UrlTarget named;
    Target target(s, p.to, named);
    Plan plan;
    plan.dn = !named.dn.empty() ? named.dn
              : p.entry.empty() ? nameText(X509_CRL_get_issuer(crl))
                                : p.entry;
    plan.base = !named.attribute.empty()        ? named.attribute
                : (p.arl || coversOnlyCAs(crl)) ? "authorityRevocationList"
                                                : "certificateRevocationList";
    readTarget(target, plan, p);

    std::vector<DecodedList> current;
    std::vector<const X509_CRL*> lists;
    plan.values.push_back(list.der);
    for (const Value& v : plan.current) {
        current.push_back(decodeList(derOfValue(v.bytes), false));  // already published
        const X509_CRL* old = current.back().object.get();
        if (old != nullptr) {
            lists.push_back(old);
        }
        if (old == nullptr || !sameIssuerAndScope(old, crl)) {
            plan.values.push_back(v.bytes);  // another issuer's or scope's: kept
        }
    }
    const ListCheck check =
        checkList(list, issuerCertificates(target, crl, p), lists, std::time(nullptr), p.force);
    if (check.verdict != ListVerdict::Ok) {
        fail(kStatusOf[static_cast<int>(check.verdict)], check.why);
    }
    const std::string number = crlNumberText(crl);
    out.line("list of " + nameText(X509_CRL_get_issuer(crl)) + ", number " +
             (number.empty() ? "none" : number) + ": signature verified");
    carryOut(target, plan, p, true, out);
    return EXIT_FOUND;
}

int publishCert(Settings& s, const std::string& file, Output& out) {
    const PublishSettings& p = *s.publish;
    const DecodedCert cert = decodeCert(readBytes(file));
    if (!cert.object) {
        fail(EXIT_MALFORMED, file + " holds no well-formed DER certificate");
    }
    const bool ca = X509_check_ca(cert.object.get()) > 0;
    if (!ca && p.entry.empty()) {
        fail(EXIT_USAGE, "a user certificate needs --entry DN");
    }
    UrlTarget named;
    Target target(s, std::string(), named);
    Plan plan;
    plan.dn = p.entry.empty() ? nameText(X509_get_subject_name(cert.object.get())) : p.entry;
    plan.base = ca ? "cACertificate" : "userCertificate";
    readTarget(target, plan, p);
    plan.values.push_back(cert.der);
    for (const Value& v : plan.current) {
        if (derOfValue(v.bytes) == cert.der && !p.replace) {
            out.line("already in " + plan.attribute + " of " + plan.dn + ": nothing to do");
            return EXIT_FOUND;
        }
        if (!p.replace) {
            plan.values.push_back(v.bytes);
        }
    }
    carryOut(target, plan, p, false, out);
    return EXIT_FOUND;
}

int runPublish(Settings& s, Output& out) {
    own(s);
    if (s.batch) {
        usageError("command publish has no batch mode");
    }
    if (s.operands.size() != 2 || (s.operands[0] != "crl" && s.operands[0] != "cert")) {
        usageError("publish needs \"crl FILE\" or \"cert FILE\"");
    }
    if (!s.publish->to.empty() && (!s.publish->entry.empty() || s.operands[0] != "crl")) {
        usageError("--to names the target of a list, instead of --entry");
    }
    if (s.connection.bindDN.empty() && !s.publish->dryRun) {
        fail(EXIT_USAGE, "publish writes to the directory: bind with -D DN and -w, -W or -y");
    }
    return s.operands[0] == "crl" ? publishList(s, s.operands[1], out)
                                  : publishCert(s, s.operands[1], out);
}

}  // namespace

const Command kPublishCommand = {
    {"publish", "crl|cert FILE",
     "write a revocation list (checked: signature, number, next update) or a\n"
     "certificate into the directory, and read it back",
     kPublishOptions, true},
    "text",
    Format::Text,
    runPublish,
    nullptr};

}  // namespace ryxdir
