// Small owners and readers for the handles of the toolkit LDAP library, and the
// reader of the cases kept as data beside its tests.
#ifndef LDAPTESTUTIL_H
#define LDAPTESTUTIL_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "runprogram.h"
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

// The cases of a file beside the tests, each of the given number of fields.
inline std::vector<Case> casesOf(const std::string& file, size_t fields) {
    std::vector<Case> cases = spawntest::readCases(std::string(LDAPLIB_CASES) + "/" + file);
    for (Case& c : cases) {
        EXPECT_EQ(c.size(), fields) << file << ": " << ::testing::PrintToString(c);
        c.resize(fields);
    }
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
