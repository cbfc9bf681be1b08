#include "hostlist.h"

#include <cctype>
#include <sstream>
#include <vector>

#include "status.h"

namespace ryxdir {

namespace {

std::vector<std::string> entries(const std::string& hosts) {
    std::istringstream in(hosts);
    std::vector<std::string> list;
    for (std::string entry; in >> entry;) {
        list.push_back(entry);
    }
    return list;
}

bool isPort(const std::string& text) {
    if (text.empty() || text.size() > 5) {
        return false;
    }
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    const long port = std::stol(text);
    return port >= 1 && port <= 65535;
}

bool isHostName(const std::string& text) {
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_') {
            return false;
        }
    }
    return true;
}

bool isIPv6(const std::string& text) {
    if (text.find(':') == std::string::npos) {
        return false;
    }
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.') {
            return false;
        }
    }
    return true;
}

// Splits one entry into host and port ("" when it names none); false when it
// is malformed, with the reason in why.
bool splitEntry(const std::string& entry, std::string& host, std::string& port, std::string& why) {
    std::string rest;
    if (entry.find("://") != std::string::npos) {
        why = "is a URL; give the host name (and :PORT) only";
        return false;
    }
    if (!entry.empty() && entry[0] == '[') {
        const size_t close = entry.find(']');
        if (close == std::string::npos || !isIPv6(entry.substr(1, close - 1))) {
            why = "is not a bracketed IPv6 address";
            return false;
        }
        host = entry.substr(0, close + 1);
        rest = entry.substr(close + 1);
    } else {
        const size_t colon = entry.find(':');
        if (colon != std::string::npos && entry.find(':', colon + 1) != std::string::npos) {
            why = "has several colons; write an IPv6 address in brackets";
            return false;
        }
        host = entry.substr(0, colon);
        rest = colon == std::string::npos ? "" : entry.substr(colon);
        if (!isHostName(host)) {
            why = "is not a host name";
            return false;
        }
    }
    if (!rest.empty()) {
        if (rest[0] != ':' || !isPort(rest.substr(1))) {
            why = "has a bad port (1 to 65535)";
            return false;
        }
        port = rest.substr(1);
    }
    return true;
}

}  // namespace

bool isUriHost(const std::string& hosts) {
    return hosts == "URI" || hosts == "uri";
}

void checkHostList(const std::string& hosts) {
    if (isUriHost(hosts)) {
        return;
    }
    const std::vector<std::string> list = entries(hosts);
    if (list.empty()) {
        usageError("-H needs at least one host");
    }
    for (const std::string& entry : list) {
        std::string host, port, why;
        if (!splitEntry(entry, host, port, why)) {
            usageError("-H entry \"" + entry + "\" " + why);
        }
    }
}

std::string describeTargets(const std::string& hosts, int port) {
    if (isUriHost(hosts)) {
        return "the default LDAP host on port " + std::to_string(port);
    }
    std::string text;
    for (const std::string& entry : entries(hosts)) {
        std::string host, own, why;
        splitEntry(entry, host, own, why);
        text += (text.empty() ? "" : " ") + host + ":" + (own.empty() ? std::to_string(port) : own);
    }
    return text;
}

}  // namespace ryxdir
