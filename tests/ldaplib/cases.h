// Cases kept as data beside these tests: one case a line, its fields split at
// tabs, with "\t", "\n" and "\\" in a field for a tab, a new line and a
// backslash; blank lines and lines starting with '#' are skipped.
#ifndef LDAPLIB_CASES_H
#define LDAPLIB_CASES_H

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

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
