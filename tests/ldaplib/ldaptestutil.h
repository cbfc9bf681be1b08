// Small owners and readers for the handles of the toolkit LDAP library, and the
// reader of the cases kept as data beside its tests: one case a line, its
// fields split at tabs, with "\t", "\n" and "\\" in a field for a tab, a new
// line and a backslash; blank lines and lines starting with '#' are skipped.
#ifndef LDAPTESTUTIL_H
#define LDAPTESTUTIL_H

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ryxldapptr.h"

using RyxLdap = ryx::UniquePtr<LDAP, ryx::RyxUnbind>;
using RyxMessage = ryx::UniquePtr<LDAPMessage, ryx::RyxMsgfree>;

// The values of one attribute of an entry, as byte strings.
inline std::vector<std::string> valuesOf(LDAP* ld, LDAPMessage* entry, const char* attr) {
    std::vector<std::string> out;
    const ryx::UniquePtr<berval*, ryx::RyxValueFree> vals(ryx_ldap_get_values_len(ld, entry, attr));
    for (berval** v = vals.get(); v != nullptr && *v != nullptr; ++v)
        out.emplace_back((*v)->bv_val, (*v)->bv_len);
    return out;
}

// The attribute names of an entry, in the server's order.
inline std::vector<std::string> attributesOf(LDAP* ld, LDAPMessage* entry) {
    std::vector<std::string> out;
    BerElement* ber = nullptr;
    char* a = ryx_ldap_first_attribute(ld, entry, &ber);
    const ryx::UniquePtr<BerElement, ryx::RyxBerFree> iteration(ber);
    for (; a != nullptr; a = ryx_ldap_next_attribute(ld, entry, ber))
        out.emplace_back(ryx::UniquePtr<char, ryx::RyxMemfree>(a).get());
    return out;
}

using Case = std::vector<std::string>;

inline std::vector<Case> casesOf(const std::string& file, size_t fields) {
    std::ifstream in(std::string(LDAPLIB_CASES) + "/" + file);
    std::vector<Case> cases;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        Case c(1);
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '\t') {
                c.emplace_back();
            } else if (line[i] == '\\' && i + 1 < line.size()) {
                const char e = line[++i];
                c.back() += e == 't' ? '\t' : e == 'n' ? '\n' : e;
            } else {
                c.back() += line[i];
            }
        }
        EXPECT_EQ(c.size(), fields) << file << ": " << line;
        c.resize(fields);
        cases.push_back(c);
    }
    EXPECT_FALSE(cases.empty()) << file << " has no cases";
    return cases;
}

// text with each name of vars replaced by its value.
inline std::string expanded(std::string text,
                            const std::vector<std::pair<std::string, std::string>>& vars) {
    for (const auto& [name, value] : vars)
        for (size_t at = text.find(name); at != std::string::npos;
             at = text.find(name, at + value.size()))
            text.replace(at, name.size(), value);
    return text;
}

#endif
