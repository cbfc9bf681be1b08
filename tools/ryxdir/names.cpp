#include "names.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "describe.h"
#include "directory.h"
#include "status.h"

namespace ryxdir {

namespace {

// One of OpenSSL's print forms of a name, most significant RDN first. OpenSSL
// can print them but not read them back, so they are split here and the name
// is built and written in LDAP form by OpenSSL.
struct PrintForm {
    const char* what;
    const char* lead;    // before the first RDN
    const char* rdnSep;  // between RDNs
    const char* avaSep;  // between the values of one RDN
    const char* equals;  // between type and value
    bool quotes;         // a value may stand between double quotes
};

const PrintForm kOneLine{"a name as openssl prints it", "", ", ", " + ", " = ", true};
const PrintForm kSlashes{"a name in OpenSSL's slash form", "/", "/", "+", "=", false};

bool startsAt(const std::string& text, size_t at, const char* part) {
    return text.compare(at, std::strlen(part), part) == 0;
}

int hexDigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) == 0 ? -1
           : std::isdigit(static_cast<unsigned char>(c)) != 0
               ? c - '0'
               : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
}

// A value up to the next separator outside quotes; escapes are "\c" and "\XX".
std::string readValue(const std::string& text, size_t& at, const PrintForm& form) {
    std::string value;
    bool quoted = false;
    while (at < text.size()) {
        const char c = text[at];
        if (!quoted && (startsAt(text, at, form.rdnSep) || startsAt(text, at, form.avaSep))) {
            break;
        }
        if (c == '\\' && at + 2 < text.size() && hexDigit(text[at + 1]) >= 0 &&
            hexDigit(text[at + 2]) >= 0) {
            value += static_cast<char>(hexDigit(text[at + 1]) * 16 + hexDigit(text[at + 2]));
            at += 3;
        } else if (c == '\\' && at + 1 < text.size()) {
            value += text[at + 1];
            at += 2;
        } else if (c == '"' && form.quotes) {
            quoted = !quoted;
            ++at;
        } else {
            value += c;
            ++at;
        }
    }
    return value;
}

// The name text holds in form; null when it is not in that form.
ryx::UniquePtr<X509_NAME> readPrinted(const std::string& text, const PrintForm& form) {
    ryx::UniquePtr<X509_NAME> name(X509_NAME_new());
    size_t at = std::strlen(form.lead);
    if (!name || !startsAt(text, 0, form.lead)) {
        return nullptr;
    }
    for (int set = 0; at < text.size();) {
        const size_t equals = text.find(form.equals, at);
        const std::string type = text.substr(at, equals == std::string::npos ? 0 : equals - at);
        if (type.empty() || type.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOP"
                                                   "QRSTUVWXYZ0123456789.-") != std::string::npos) {
            return nullptr;
        }
        at = equals + std::strlen(form.equals);
        const std::string value = readValue(text, at, form);
        if (X509_NAME_add_entry_by_txt(name.get(), type.c_str(), MBSTRING_UTF8,
                                       reinterpret_cast<const unsigned char*>(value.data()),
                                       static_cast<int>(value.size()), -1, set) != 1) {
            ERR_clear_error();
            return nullptr;
        }
        set = startsAt(text, at, form.avaSep) ? -1 : 0;
        at += at < text.size() ? std::strlen(set == -1 ? form.avaSep : form.rdnSep) : 0;
    }
    if (X509_NAME_entry_count(name.get()) == 0) {
        return nullptr;
    }
    return name;
}

}  // namespace

std::string ldapFormOfPrinted(const std::string& text) {
    for (const PrintForm* form : {&kOneLine, &kSlashes}) {
        const ryx::UniquePtr<X509_NAME> name = readPrinted(text, *form);
        if (name) {
            return nameText(name.get());
        }
    }
    return std::string();
}

RYXASNx500Name operandName(const std::string& text) {
    for (const PrintForm* form : {&kOneLine, &kSlashes}) {
        const ryx::UniquePtr<X509_NAME> name = readPrinted(text, *form);
        if (name) {
            fail(EXIT_USAGE, "\"" + text + "\" is " + form->what + "; in LDAP form it is \"" +
                                 nameText(name.get()) + "\"");
        }
    }
    return parseName(text);
}

ryx::UniquePtr<X509_NAME> certificateName(const std::string& path, Whose whose) {
    const ryx::UniquePtr<BIO> file(BIO_new_file(path.c_str(), "rb"));
    if (!file) {
        const int error = errno;
        ERR_clear_error();
        usageError("cannot read certificate file \"" + path + "\": " + std::strerror(error));
    }
    ryx::UniquePtr<X509> cert(PEM_read_bio_X509(file.get(), nullptr, nullptr, nullptr));
    if (!cert && BIO_reset(file.get()) == 0) {
        cert.reset(d2i_X509_bio(file.get(), nullptr));
    }
    ERR_clear_error();
    if (!cert) {
        usageError("\"" + path + "\" holds no certificate in PEM or DER");
    }
    const X509_NAME* name = whose == Whose::Issuer ? X509_get_issuer_name(cert.get())
                                                   : X509_get_subject_name(cert.get());
    return ryx::UniquePtr<X509_NAME>(X509_NAME_dup(name));
}

}  // namespace ryxdir
