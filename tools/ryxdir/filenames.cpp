#include "filenames.h"

#include <cctype>
#include <cstdio>

#include "ryxopensslptr.h"

namespace ryxdir {

namespace {

constexpr size_t kMaxLabel = 64;

// The last common name as UTF-8, "" when there is none.
std::string commonName(const X509_NAME* name) {
    const int index = X509_NAME_get_index_by_NID(name, NID_commonName, -1);
    int last = index;
    for (int i = index; i >= 0; i = X509_NAME_get_index_by_NID(name, NID_commonName, i)) {
        last = i;
    }
    if (last < 0) {
        return std::string();
    }
    unsigned char* utf8 = nullptr;
    const int length =
        ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, last)));
    const ryx::UniquePtr<unsigned char> owned(utf8);
    return length > 0 ? std::string(reinterpret_cast<char*>(utf8), static_cast<size_t>(length))
                      : std::string();
}

// Safe characters only; no leading '.' (hidden files, "..") or '-' (options).
std::string safe(const std::string& text) {
    std::string label;
    for (const char c : text) {
        const bool keep =
            std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '-' || c == '_';
        if (keep && (!label.empty() || (c != '.' && c != '-'))) {
            label += c;
        } else if (!keep && !label.empty() && label.back() != '_') {
            label += '_';
        }
        if (label.size() >= kMaxLabel) {
            break;
        }
    }
    while (!label.empty() && label.back() == '_') {
        label.pop_back();
    }
    return label;
}

}  // namespace

std::string nameLabel(const X509_NAME* name) {
    std::string label = safe(commonName(name));
    if (label.empty()) {
        int ok = 0;
        const unsigned long hash = X509_NAME_hash_ex(name, nullptr, nullptr, &ok);
        char text[16];
        std::snprintf(text, sizeof text, "%08lx", ok ? hash : 0UL);
        label = text;
    }
    return label;
}

std::string FileNamer::next(const std::string& kind, const std::string& label,
                            const std::string& number) {
    const std::string base = kind + "-" + label + "-";
    std::string file = base + safe(number) + ".der";
    for (unsigned n = 1; number.empty() || m_used.count(file) != 0; ++n) {
        file = base + (number.empty() ? "" : safe(number) + "-") + std::to_string(n) + ".der";
        if (m_used.count(file) == 0) {
            break;
        }
    }
    m_used.insert(file);
    return file;
}

}  // namespace ryxdir
