#include "output.h"

#include <openssl/pem.h>
#include <sys/stat.h>

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

Output::Output(Format format, std::string outDir, bool batch, bool force)
    : m_format(format), m_outDir(std::move(outDir)), m_batch(batch), m_force(force) {}

void Output::start(const std::string& command) {
    m_command = command;
    if (json() && !m_batch) {
        m_json.beginDocument();
        m_json.member("command", command);
    }
}

std::string outputLost() {
    const int error = errno != 0 ? errno : EIO;
    return error == EBADF ? "cannot write to standard output: it is closed"
                          : std::string("cannot write to standard output: ") + std::strerror(error);
}

void Output::write(const std::string& bytes) {
    errno = 0;
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size()) {
        fail(EXIT_OUTPUT, outputLost());
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

std::string Output::fileName(const std::string& kind, const std::string& label,
                             const std::string& number) {
    return m_fileNames.next(kind, label, number);
}

// Without --force every name is checked before the first file is written, so
// that a second run into the same folder writes nothing and says why.
void Output::derFiles(const std::vector<DerFile>& files) {
    for (const DerFile& file : files) {
        struct stat st;
        const std::string path = m_outDir + "/" + file.name;
        if (!m_force && ::lstat(path.c_str(), &st) == 0) {
            fail(EXIT_OUTPUT, "\"" + path + "\" exists already; --force replaces it");
        }
    }
    for (const DerFile& file : files) {
        const std::string path = m_outDir + "/" + file.name;
        writeFileAtomically(path, file.der.getData(), file.der.getLength(),
                            m_force ? Existing::Replace : Existing::Refuse);
        line(path);
    }
}

void Output::flush() {
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        fail(EXIT_OUTPUT, outputLost());
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
    doc.beginDocument();
    doc.member("command", command);
    doc.member("error", message);
    doc.member("status", status);
    doc.endObject();
    std::fwrite(doc.text().data(), 1, doc.text().size(), stdout);
    std::fflush(stdout);
}

std::string escaped(const std::string& text, bool doubleBackslash) {
    std::string out;
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            static const char kHex[] = "0123456789abcdef";
            out += {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
        } else {
            out += doubleBackslash && byte == '\\' ? std::string("\\\\") : std::string(1, c);
        }
    }
    return out;
}

void note(const std::string& text) {
    std::cerr << "ryxdir: " << escaped(text, false) << std::endl;
}

namespace {

// How one kind of object is written in each format.
template <typename T>
struct Form {
    const char* pemLabel;  // "CERTIFICATE"
    std::string (*text)(const T&);
    void (*json)(JsonWriter&, const T&);  // the members but the DER
    std::string (*label)(const T&);       // for its file name: see nameLabel
    std::string (*number)(const T&);      // the number in its file name, or ""
};

const Form<RYXASNx509Certificate> kCertificateForm{
    "CERTIFICATE", [](const RYXASNx509Certificate& c) { return certificateText(c.native()); },
    [](JsonWriter& json, const RYXASNx509Certificate& c) { certificateJson(json, c.native()); },
    [](const RYXASNx509Certificate& c) { return nameLabel(X509_get_subject_name(c.native())); },
    [](const RYXASNx509Certificate&) { return std::string(); }};
const Form<RYXASNCertificateList> kListForm{
    "X509 CRL", [](const RYXASNCertificateList& l) { return crlText(l); },
    [](JsonWriter& json, const RYXASNCertificateList& l) { crlJson(json, l); },
    [](const RYXASNCertificateList& l) { return nameLabel(l.getIssuer().native()); },
    [](const RYXASNCertificateList& l) { return crlNumberText(l); }};

// Objects of one kind, numbered from 0 in text lines: "certificate 0: ...".
template <typename T>
struct Group {
    const Form<T>* form;
    std::string kind;      // "certificate", "crl", "arl"
    std::string jsonKey;   // "certificates", "crls", "arls"
    std::string fileKind;  // "ca", "user", "crl", "arl"
    std::vector<const T*> objects;
};

std::vector<Group<RYXASNx509Certificate>> groups(const RYXASNCertificateContainer& certs,
                                                 const std::string& command) {
    Group<RYXASNx509Certificate> group{
        &kCertificateForm, "certificate", "certificates", command, {}};
    for (size_t i = 0; i < certs.size(); ++i) {
        group.objects.push_back(certs.getCertificate(i));
    }
    return {group};
}

// ARLs (the first authorityLists) and CRLs apart when the retrieval tells them.
std::vector<Group<RYXASNCertificateList>> groups(const Found& found) {
    Group<RYXASNCertificateList> arls{&kListForm, "arl", "arls", "arl", {}};
    Group<RYXASNCertificateList> crls{&kListForm, "crl", "crls", "crl", {}};
    for (size_t i = 0; i < found.crls->size(); ++i) {
        (i < found.authorityLists ? arls : crls).objects.push_back(found.crls->getCRL(i));
    }
    if (!found.authority) {
        return {crls};
    }
    return {arls, crls};
}

template <typename T>
void jsonArray(JsonWriter& json, const Group<T>& group) {
    json.key(group.jsonKey);
    json.beginArray();
    for (const T* object : group.objects) {
        json.beginObject();
        group.form->json(json, *object);
        const RYXASNCBuffer der = object->getDERView();
        json.member("der", base64(der.getData(), der.getLength()));
        json.endObject();
    }
    json.endArray();
}

template <typename T>
std::string textLine(const Group<T>& group, size_t i) {
    return group.kind + " " + std::to_string(i) + ": " + group.form->text(*group.objects[i]);
}

template <typename T>
void writeGroups(Output& out, const std::vector<Group<T>>& groups) {
    std::vector<Output::DerFile> files;
    for (const Group<T>& group : groups) {
        if (out.json()) {
            jsonArray(out.document(), group);
            continue;
        }
        for (size_t i = 0; i < group.objects.size(); ++i) {
            const T& object = *group.objects[i];
            if (out.format() == Format::Pem) {
                out.pem(group.form->pemLabel, object.getDERView());
            } else if (out.format() == Format::Der) {
                files.push_back({out.fileName(group.fileKind, group.form->label(object),
                                              group.form->number(object)),
                                 object.getDERView()});
            } else {
                out.line(textLine(group, i));
            }
        }
    }
    out.derFiles(files);
}

// What was found, for one line of a batch run: the JSON arrays, or the text
// lines joined by "; ".
template <typename T>
void describe(const std::vector<Group<T>>& groups, JsonWriter* json, std::string& text) {
    for (const Group<T>& group : groups) {
        if (json != nullptr) {
            jsonArray(*json, group);
            continue;
        }
        for (size_t i = 0; i < group.objects.size(); ++i) {
            text += (text.empty() ? "" : "; ") + textLine(group, i);
        }
    }
}

void describe(const Found& found, const std::string& command, JsonWriter* json, std::string& text) {
    if (found.certificates) {
        describe(groups(*found.certificates, command), json, text);
    } else if (found.crls) {
        describe(groups(found), json, text);
    }
}

}  // namespace

size_t Found::count() const {
    return certificates ? certificates->size() : crls ? crls->size() : 0;
}

void writeFound(Output& out, const Found& found) {
    if (found.certificates) {
        writeGroups(out, groups(*found.certificates, out.command()));
    } else if (found.crls) {
        writeGroups(out, groups(found));
    }
}

void Output::resultLine(const std::string& input, int status, const std::string& why,
                        const Found* found) {
    std::string text;
    if (json()) {
        JsonWriter line(true);
        line.beginDocument();
        line.member("input", input);
        line.member("status", status);
        if (found != nullptr) {
            describe(*found, m_command, &line, text);
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
            describe(*found, m_command, nullptr, text);
        }
        text = std::to_string(status) + "\t" + escaped(input, true) + "\t" + escaped(text, true) +
               "\n";
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
    line.beginDocument();
    line.member("input", input);
    line.member("status", status);
    line.member("verdict", verdict);
    members(line);
    line.endObject();
    write(line.text());
    flush();
}

}  // namespace ryxdir
