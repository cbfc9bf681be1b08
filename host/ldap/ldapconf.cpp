#include "ldapconf.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "hostlist.h"

namespace ryxldap {

namespace {

// Keywords OpenLDAP takes only from a user's files and variables.
bool userOnly(const std::string& keyword) {
    for (const char* k : {"BINDDN", "SASL_AUTHCID", "SASL_AUTHZID", "TLS_CERT", "TLS_KEY"}) {
        if (strcasecmp(keyword.c_str(), k) == 0)
            return true;
    }
    return false;
}

bool is(const std::string& a, const char* b) {
    return strcasecmp(a.c_str(), b) == 0;
}

// Follows the settings read so far for one option; the server list is made of
// three keywords.
class Tracker {
  public:
    explicit Tracker(const std::string& option) : m_option(option) {}

    void take(const std::string& keyword, const std::string& value, const std::string& where,
              const std::string& origin) {
        if (!is(m_option, "URI")) {
            if (is(keyword, m_option.c_str()))
                set(value, origin);
            return;
        }
        if (is(keyword, "PORT")) {
            const long port = std::strtol(value.c_str(), nullptr, 10);
            m_port = port > 0 && port < 65536 ? static_cast<int>(port) : 389;
        } else if (is(keyword, "URI")) {
            // OpenLDAP separates URLs by blanks or commas.
            std::string urls = value;
            std::replace(urls.begin(), urls.end(), ',', ' ');
            set(urls, origin);
        } else if (is(keyword, "HOST")) {
            std::string urls, why;
            if (hostListToUrls(value, m_port, &urls, &why))
                set(urls, where.empty() ? origin
                                        : where + " (HOST, port " + std::to_string(m_port) + ")");
        }
    }
    bool found() const { return m_found; }
    const ConfValue& result() const { return m_result; }

  private:
    void set(const std::string& value, const std::string& origin) {
        m_result = {value, origin};
        m_found = true;
    }
    std::string m_option;
    int m_port = 389;
    bool m_found = false;
    ConfValue m_result;
};

std::string trimmed(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return s.substr(b, e - b);
}

// One file: "KEYWORD value" lines; '#' in the first column starts a comment.
void readFile(const std::string& path, bool user, Tracker* t) {
    if (path.empty())
        return;
    std::ifstream in(path);
    const std::string shown = path[0] == '/' ? path : "./" + path;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] == '#')
            continue;
        line = trimmed(line);
        const size_t gap = line.find_first_of(" \t\r\n\v\f");
        if (gap == std::string::npos)
            continue;
        const std::string keyword = line.substr(0, gap), value = trimmed(line.substr(gap));
        if (user || !userOnly(keyword))
            t->take(keyword, value, shown, shown + " (" + keyword + ")");
    }
}

// NAME in the home folder, as .NAME there, and relative to the working folder.
void readUserFiles(const std::string& name, const ConfSources& s, Tracker* t) {
    const char* home = s.getenv("HOME");
    if (home != nullptr) {
        readFile(std::string(home) + "/" + name, true, t);
        readFile(std::string(home) + "/." + name, true, t);
    }
    readFile(name, true, t);
}

// LDAP<KEYWORD> variables, in OpenLDAP's table order (PORT before HOST before URI).
void readVariables(const std::string& option, const ConfSources& s, Tracker* t) {
    std::vector<std::string> keywords = {option};
    if (is(option, "URI"))
        keywords = {"PORT", "HOST", "URI"};
    for (std::string k : keywords) {
        for (char& c : k)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        const std::string name = "LDAP" + k;
        const char* v = s.getenv(name.c_str());
        if (v != nullptr)
            t->take(k, v, "", name);
    }
}

}  // namespace

bool confOption(const std::string& option, const ConfSources& s, ConfValue* out) {
    if (s.getenv("LDAPNOINIT") != nullptr)
        return false;
    Tracker t(option);
    readFile(s.systemFile, false, &t);
    if (!s.setUserId) {
        readUserFiles("ldaprc", s, &t);
        if (const char* conf = s.getenv("LDAPCONF"))
            readFile(conf, false, &t);
        if (const char* rc = s.getenv("LDAPRC"))
            readUserFiles(rc, s, &t);
        readVariables(option, s, &t);
    }
    if (t.found())
        *out = t.result();
    return t.found();
}

}  // namespace ryxldap
