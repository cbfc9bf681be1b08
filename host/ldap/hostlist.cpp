#include "hostlist.h"

#include <algorithm>
#include <cctype>

namespace ryxldap {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

bool validPort(const std::string& digits) {
    if (digits.empty() || digits.size() > 5)
        return false;
    long value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return value >= 1 && value <= 65535;
}

bool validName(const std::string& name) {
    if (name.empty())
        return false;
    for (char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (!std::isalnum(u) && c != '-' && c != '.' && c != '_')
            return false;
    }
    return true;
}

bool validV6(const std::string& address) {
    if (address.find(':') == std::string::npos)
        return false;
    for (char c : address) {
        if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.')
            return false;
    }
    return true;
}

// "host[:port]" or "[v6][:port]" split into host (brackets kept) and port text;
// false when the shape is wrong.
bool splitHostPort(const std::string& text, std::string* host, std::string* port) {
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos || !validV6(text.substr(1, close - 1)))
            return false;
        *host = text.substr(0, close + 1);
        if (close + 1 == text.size())
            return true;
        if (text[close + 1] != ':')
            return false;
        *port = text.substr(close + 2);
        return true;
    }
    const size_t colon = text.find(':');
    *host = text.substr(0, colon);
    if (colon != std::string::npos)
        *port = text.substr(colon + 1);
    return validName(*host);
}

bool entryToUrl(const std::string& entry, int port, std::string* url, std::string* why) {
    std::string scheme = "ldap";
    std::string rest = entry;
    const size_t sep = entry.find("://");
    if (sep != std::string::npos) {
        scheme = entry.substr(0, sep);
        for (char& c : scheme)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (scheme != "ldap" && scheme != "ldaps") {
            *why = "unknown scheme in \"" + entry + "\" (ldap:// or ldaps://)";
            return false;
        }
        rest = entry.substr(sep + 3);
        if (!rest.empty() && rest.back() == '/')
            rest.pop_back();
        if (rest.empty()) {
            *why = "no host in \"" + entry + "\"";
            return false;
        }
    } else if (std::count_if(entry.begin(), entry.end(), [](char c) { return c == ':'; }) >= 2 &&
               entry[0] != '[') {
        if (!validV6(entry)) {
            *why = "\"" + entry + "\" is not a host name or address";
            return false;
        }
        rest = "[" + entry + "]";
    }
    std::string host, portText;
    if (!splitHostPort(rest, &host, &portText)) {
        *why = "\"" + entry + "\" is not a host name or address";
        return false;
    }
    if (rest.size() > host.size() && !validPort(portText)) {
        *why = "port of \"" + entry + "\" is not a number from 1 to 65535";
        return false;
    }
    *url = scheme + "://" + host;
    if (rest.size() > host.size())
        *url += ":" + portText;
    else if (sep == std::string::npos)
        *url += ":" + std::to_string(port);
    return true;
}

}  // namespace

std::vector<std::string> entries(const std::string& text) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isBlank(text[i]))
            ++i;
        const size_t start = i;
        while (i < text.size() && !isBlank(text[i]))
            ++i;
        if (i > start)
            out.push_back(text.substr(start, i - start));
    }
    return out;
}

bool hostListToUrls(const std::string& hosts, int port, std::string* urls, std::string* why) {
    std::string out;
    for (const std::string& entry : entries(hosts)) {
        std::string url;
        if (!entryToUrl(entry, port, &url, why))
            return false;
        if (!out.empty())
            out += ' ';
        out += url;
    }
    *urls = out;
    return true;
}

std::string withoutPorts(const std::string& hosts) {
    std::string out;
    for (std::string entry : entries(hosts)) {
        std::string host, portText;
        if (entry.find("://") == std::string::npos && splitHostPort(entry, &host, &portText) &&
            validPort(portText)) {
            entry = host;
        }
        if (!out.empty())
            out += ' ';
        out += entry;
    }
    return out;
}

void HostMemory::failed(const std::string& url, Clock::time_point now) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failed[url] = now;
}

void HostMemory::answered(const std::string& url) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failed.erase(url);
}

std::vector<std::string> HostMemory::order(const std::vector<std::string>& urls,
                                           Clock::time_point now) {
    std::vector<std::string> fine;
    std::vector<std::pair<Clock::time_point, std::string>> failed;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const std::string& url : urls) {
        auto it = m_failed.find(url);
        if (it != m_failed.end() && now - it->second >= m_keep) {
            m_failed.erase(it);
            it = m_failed.end();
        }
        if (it == m_failed.end())
            fine.push_back(url);
        else
            failed.emplace_back(it->second, url);
    }
    std::stable_sort(failed.begin(), failed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& f : failed)
        fine.push_back(std::move(f.second));
    return fine;
}

void HostMemory::clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::map<std::string, Clock::time_point>().swap(m_failed);
}

}  // namespace ryxldap
