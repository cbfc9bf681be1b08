// Case files: one case a line, fields separated by tabs, blank lines and lines
// starting with '#' passed over. Free of GoogleTest, so that plain programs
// (the fuzz seeds) read them too.
#ifndef CASES_H
#define CASES_H

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace casefile {

// One field: C escapes (\\ \n \t \r \" \0 \xHH) decoded, then every ${NAME} of
// vars replaced by its value.
inline std::string field(const std::string& raw, const std::map<std::string, std::string>& vars) {
    std::string out;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\' || i + 1 == raw.size()) {
            out += raw[i];
        } else if (raw[++i] == 'x' && i + 2 < raw.size()) {
            out += static_cast<char>(std::strtol(raw.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {  // the sixth decoded character is the literal's closing NUL
            const size_t at = std::string("\\\"ntr0").find(raw[i]);
            out += at == std::string::npos ? raw[i] : "\\\"\n\t\r"[at];
        }
    }
    for (const auto& [name, value] : vars) {
        for (size_t at; (at = out.find("${" + name + "}")) != std::string::npos;) {
            out.replace(at, name.size() + 3, value);
        }
    }
    return out;
}

// The rows of the file at path; none when it cannot be read.
inline std::vector<std::vector<std::string>> read(
    const std::string& path, const std::map<std::string, std::string>& vars = {}) {
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        rows.emplace_back();
        for (size_t at = 0, tab = 0; tab != std::string::npos; at = tab + 1) {
            tab = line.find('\t', at);
            rows.back().push_back(field(line.substr(at, tab - at), vars));
        }
    }
    return rows;
}

}  // namespace casefile

#endif
