#include "output.h"

#include <openssl/pem.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "atomicfile.h"
#include "describe.h"
#include "status.h"

namespace ryxdir {

Output::Output(Format format, std::string outDir) : m_format(format), m_outDir(std::move(outDir)) {}

void Output::start(const std::string& command) {
    if (json()) {
        m_json.beginObject();
        m_json.member("command", command);
    }
}

void Output::write(const std::string& bytes) {
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size()) {
        fail(EXIT_OUTPUT, std::string("cannot write to standard output: ") + std::strerror(errno));
    }
}

void Output::line(const std::string& text) {
    write(text + "\n");
}

void Output::raw(const std::string& bytes) {
    write(bytes);
}

void Output::derFile(const char* kind, size_t index, const std::string& der) {
    const std::string path = m_outDir + "/" + kind + "-" + std::to_string(index) + ".der";
    writeFileAtomically(path, der.data(), der.size());
    line(path);
}

void Output::finish(int status) {
    if (json()) {
        m_json.member("status", status);
        m_json.endObject();
        write(m_json.text());
    }
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        fail(EXIT_OUTPUT, std::string("cannot write to standard output: ") +
                              std::strerror(errno != 0 ? errno : EIO));
    }
}

void Output::finishFailed(const std::string& command, int status, const std::string& message) {
    if (!json()) {
        std::fflush(stdout);
        return;
    }
    JsonWriter doc;
    doc.beginObject();
    doc.member("command", command);
    doc.member("error", message);
    doc.member("status", status);
    doc.endObject();
    std::fwrite(doc.text().data(), 1, doc.text().size(), stdout);
    std::fflush(stdout);
}

void note(const std::string& text) {
    std::cerr << "ryxdir: " << text << std::endl;
}

namespace {

template <typename T>
std::string der(const T* object, int (*i2d)(const T*, unsigned char**)) {
    unsigned char* bytes = nullptr;
    const int length = i2d(object, &bytes);
    if (length <= 0) {
        fail(EXIT_OUTPUT, "cannot encode an object as DER");
    }
    std::string text(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length));
    OPENSSL_free(bytes);
    return text;
}

template <typename T>
std::string pem(const T* object, int (*write)(BIO*, const T*)) {
    BIO* bio = BIO_new(BIO_s_mem());
    if (bio == nullptr || write(bio, object) != 1) {
        BIO_free(bio);
        fail(EXIT_OUTPUT, "cannot encode an object as PEM");
    }
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    std::string text(data, static_cast<size_t>(length));
    BIO_free(bio);
    return text;
}

}  // namespace

void writeCertificates(Output& out, const STACK_OF(X509) * certs) {
    const int count = sk_X509_num(certs);
    if (out.json()) {
        JsonWriter& json = out.document();
        json.key("certificates");
        json.beginArray();
        for (int i = 0; i < count; ++i) {
            json.beginObject();
            certificateJson(json, sk_X509_value(certs, i), true);
            json.endObject();
        }
        json.endArray();
        return;
    }
    for (int i = 0; i < count; ++i) {
        const X509* cert = sk_X509_value(certs, i);
        switch (out.format()) {
            case Format::Pem:
                out.raw(pem(cert, PEM_write_bio_X509));
                break;
            case Format::Der:
                out.derFile("cert", static_cast<size_t>(i), der(cert, i2d_X509));
                break;
            default:
                out.line("certificate " + std::to_string(i) + ": " + certificateText(cert));
        }
    }
}

void writeCrls(Output& out, const STACK_OF(X509_CRL) * crls) {
    const int count = sk_X509_CRL_num(crls);
    if (out.json()) {
        JsonWriter& json = out.document();
        json.key("crls");
        json.beginArray();
        for (int i = 0; i < count; ++i) {
            json.beginObject();
            crlJson(json, sk_X509_CRL_value(crls, i), true);
            json.endObject();
        }
        json.endArray();
        return;
    }
    for (int i = 0; i < count; ++i) {
        const X509_CRL* crl = sk_X509_CRL_value(crls, i);
        switch (out.format()) {
            case Format::Pem:
                out.raw(pem(crl, PEM_write_bio_X509_CRL));
                break;
            case Format::Der:
                out.derFile("crl", static_cast<size_t>(i), der(crl, i2d_X509_CRL));
                break;
            default:
                out.line("crl " + std::to_string(i) + ": " + crlText(crl));
        }
    }
}

}  // namespace ryxdir
