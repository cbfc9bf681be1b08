#include "output.h"

#include <openssl/pem.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <vector>

#include "atomicfile.h"
#include "describe.h"
#include "status.h"

namespace ryxdir {

Output::Output(Format format, std::string outDir, bool batch)
    : m_format(format), m_outDir(std::move(outDir)), m_batch(batch) {}

void Output::start(const std::string& command) {
    if (json() && !m_batch) {
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

void Output::flush() {
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        fail(EXIT_OUTPUT, std::string("cannot write to standard output: ") +
                              std::strerror(errno != 0 ? errno : EIO));
    }
}

void Output::finish(int status) {
    if (json() && !m_batch) {
        m_json.member("status", status);
        m_json.endObject();
        write(m_json.text());
    }
    flush();
}

void Output::finishFailed(const std::string& command, int status, const std::string& message) {
    if (!json()) {
        std::fflush(stdout);
        return;
    }
    JsonWriter doc(m_batch);
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

// How one kind of object is written in each format.
template <typename T>
struct Form {
    const char* jsonKey;   // "certificates"
    const char* lineName;  // "certificate 0: ..."
    const char* fileName;  // "cert-0.der"
    std::string (*text)(const T*);
    void (*json)(JsonWriter&, const T*, bool);
    int (*writePem)(BIO*, const T*);
    int (*i2d)(const T*, unsigned char**);
};

const Form<X509> kCertificates{"certificates",  "certificate",      "cert",  certificateText,
                               certificateJson, PEM_write_bio_X509, i2d_X509};
const Form<X509_CRL> kCrls{"crls",      "crl", "crl", crlText, crlJson, PEM_write_bio_X509_CRL,
                           i2d_X509_CRL};

std::vector<const X509*> listed(const STACK_OF(X509) * certs) {
    std::vector<const X509*> objects;
    for (int i = 0; i < sk_X509_num(certs); ++i) {
        objects.push_back(sk_X509_value(certs, i));
    }
    return objects;
}

std::vector<const X509_CRL*> listed(const STACK_OF(X509_CRL) * crls) {
    std::vector<const X509_CRL*> objects;
    for (int i = 0; i < sk_X509_CRL_num(crls); ++i) {
        objects.push_back(sk_X509_CRL_value(crls, i));
    }
    return objects;
}

template <typename T>
void jsonArray(JsonWriter& json, const std::vector<const T*>& objects, const Form<T>& form) {
    json.key(form.jsonKey);
    json.beginArray();
    for (const T* object : objects) {
        json.beginObject();
        form.json(json, object, true);
        json.endObject();
    }
    json.endArray();
}

template <typename T>
std::string textLine(const std::vector<const T*>& objects, size_t i, const Form<T>& form) {
    return std::string(form.lineName) + " " + std::to_string(i) + ": " + form.text(objects[i]);
}

template <typename T>
void writeObjects(Output& out, const std::vector<const T*>& objects, const Form<T>& form) {
    if (out.json()) {
        jsonArray(out.document(), objects, form);
        return;
    }
    for (size_t i = 0; i < objects.size(); ++i) {
        switch (out.format()) {
            case Format::Pem:
                out.raw(pem(objects[i], form.writePem));
                break;
            case Format::Der:
                out.derFile(form.fileName, i, der(objects[i], form.i2d));
                break;
            default:
                out.line(textLine(objects, i, form));
        }
    }
}

// What was found, for one line of a batch run: the JSON array, or the text
// lines joined by "; ".
template <typename T>
void describe(const std::vector<const T*>& objects, const Form<T>& form, JsonWriter* json,
              std::string& text) {
    if (json != nullptr) {
        jsonArray(*json, objects, form);
        return;
    }
    for (size_t i = 0; i < objects.size(); ++i) {
        text += (i == 0 ? "" : "; ") + textLine(objects, i, form);
    }
}

void describe(const Found& found, JsonWriter* json, std::string& text) {
    if (found.certificates) {
        describe(listed(found.certificates.get()), kCertificates, json, text);
    } else {
        describe(listed(found.crls.get()), kCrls, json, text);
    }
}

}  // namespace

int Found::count() const {
    return certificates ? sk_X509_num(certificates.get()) : sk_X509_CRL_num(crls.get());
}

void writeCertificates(Output& out, const STACK_OF(X509) * certs) {
    writeObjects(out, listed(certs), kCertificates);
}

void writeCrls(Output& out, const STACK_OF(X509_CRL) * crls) {
    writeObjects(out, listed(crls), kCrls);
}

void writeFound(Output& out, const Found& found) {
    if (found.certificates) {
        writeCertificates(out, found.certificates.get());
    } else {
        writeCrls(out, found.crls.get());
    }
}

void Output::resultLine(const std::string& input, int status, const std::string& why,
                        const Found* found) {
    std::string text;
    if (json()) {
        JsonWriter line(true);
        line.beginObject();
        line.member("input", input);
        line.member("status", status);
        if (found != nullptr) {
            describe(*found, &line, text);
        } else {
            line.member("error", why);
        }
        line.endObject();
        text = line.text();
    } else {
        if (found == nullptr) {
            text = why;
        } else if (found->count() == 0) {
            text = "nothing found";
        } else {
            describe(*found, nullptr, text);
        }
        text = std::to_string(status) + "\t" + input + "\t" + text + "\n";
    }
    write(text);
    flush();
}

}  // namespace ryxdir
