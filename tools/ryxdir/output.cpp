#include "output.h"

#include <openssl/pem.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <vector>

#include "atomicfile.h"
#include "describe.h"
#include "ryxopensslptr.h"
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

void Output::pem(const char* label, const RYXASNCBuffer& der) {
    // Straight into standard output's buffer; a failed write shows in finish().
    const ryx::UniquePtr<BIO> bio(BIO_new_fp(stdout, BIO_NOCLOSE));
    const bool written = bio && PEM_write_bio(bio.get(), label, "", der.getData(),
                                              static_cast<long>(der.getLength())) > 0;
    if (!written) {
        fail(EXIT_OUTPUT, "cannot write an object as PEM");
    }
}

void Output::derFile(const char* kind, size_t index, const RYXASNCBuffer& der) {
    const std::string path = m_outDir + "/" + kind + "-" + std::to_string(index) + ".der";
    writeFileAtomically(path, der.getData(), der.getLength());
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

// How one kind of object is written in each format.
template <typename T>
struct Form {
    const char* jsonKey;   // "certificates"
    const char* lineName;  // "certificate 0: ..."
    const char* fileName;  // "cert-0.der"
    const char* pemLabel;  // "CERTIFICATE"
    std::string (*text)(const T&);
    void (*json)(JsonWriter&, const T&);  // the members but the DER
};

const Form<RYXASNx509Certificate> kCertificates{
    "certificates",
    "certificate",
    "cert",
    "CERTIFICATE",
    [](const RYXASNx509Certificate& c) { return certificateText(c.native()); },
    [](JsonWriter& json, const RYXASNx509Certificate& c) { certificateJson(json, c.native()); }};
const Form<RYXASNCertificateList> kCrls{
    "crls",
    "crl",
    "crl",
    "X509 CRL",
    [](const RYXASNCertificateList& l) { return crlText(l); },
    [](JsonWriter& json, const RYXASNCertificateList& l) { crlJson(json, l); }};

std::vector<const RYXASNx509Certificate*> listed(const RYXASNCertificateContainer& certs) {
    std::vector<const RYXASNx509Certificate*> objects;
    for (size_t i = 0; i < certs.size(); ++i) {
        objects.push_back(certs.getCertificate(i));
    }
    return objects;
}

std::vector<const RYXASNCertificateList*> listed(const RYXASNCRLContainer& crls) {
    std::vector<const RYXASNCertificateList*> objects;
    for (size_t i = 0; i < crls.size(); ++i) {
        objects.push_back(crls.getCRL(i));
    }
    return objects;
}

template <typename T>
void jsonArray(JsonWriter& json, const std::vector<const T*>& objects, const Form<T>& form) {
    json.key(form.jsonKey);
    json.beginArray();
    for (const T* object : objects) {
        json.beginObject();
        form.json(json, *object);
        const RYXASNCBuffer der = object->getDERView();
        json.member("der", base64(der.getData(), der.getLength()));
        json.endObject();
    }
    json.endArray();
}

template <typename T>
std::string textLine(const std::vector<const T*>& objects, size_t i, const Form<T>& form) {
    return std::string(form.lineName) + " " + std::to_string(i) + ": " + form.text(*objects[i]);
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
                out.pem(form.pemLabel, objects[i]->getDERView());
                break;
            case Format::Der:
                out.derFile(form.fileName, i, objects[i]->getDERView());
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
        describe(listed(*found.certificates), kCertificates, json, text);
    } else if (found.crls) {
        describe(listed(*found.crls), kCrls, json, text);
    }
}

}  // namespace

size_t Found::count() const {
    return certificates ? certificates->size() : crls ? crls->size() : 0;
}

void writeFound(Output& out, const Found& found) {
    if (found.certificates) {
        writeObjects(out, listed(*found.certificates), kCertificates);
    } else if (found.crls) {
        writeObjects(out, listed(*found.crls), kCrls);
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

void Output::verdictLine(const std::string& input, int status, const std::string& verdict,
                         const std::function<void(JsonWriter&)>& members) {
    if (!json() || !members) {
        resultLine(input, status, verdict, nullptr);
        return;
    }
    JsonWriter line(true);
    line.beginObject();
    line.member("input", input);
    line.member("status", status);
    line.member("verdict", verdict);
    members(line);
    line.endObject();
    write(line.text());
    flush();
}

}  // namespace ryxdir
