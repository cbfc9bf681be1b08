// verify: is a certificate valid, per the directory? A thin front end on the
// toolkit's validation library: it reads the files, hands their certificates
// to one validator (so that many certificates share one connection and what
// was fetched), and writes each result.
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/pem.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "batchinput.h"
#include "commands.h"
#include "describe.h"
#include "directory.h"
#include "ryxexception.h"
#include "ryxpkix.h"
#include "status.h"
#include "terminal.h"
#include "timetext.h"
#include "trust.h"

namespace ryxdir {

struct VerifySettings {
    std::string trustFile;  // empty: the system's trust store
    bool crlOptional = false;
    bool atGiven = false;
    std::time_t at = 0;
    std::vector<std::string> policies;  // --policy OIDs
    bool explicitPolicy = false;
    std::string cacheDir;  // --cache: lists shared by processes
};

namespace {

VerifySettings& own(Settings& s) {
    return made(s.verify);
}

void setTrust(Settings& s, const char* v) {
    own(s).trustFile = v;
}
void setCrlOptional(Settings& s, const char*) {
    own(s).crlOptional = true;
}
void setAt(Settings& s, const char* v) {
    if (!parseTime(v, own(s).at)) {
        usageError(std::string("bad time \"") + v +
                   "\": give YYYY-MM-DDTHH:MM:SSZ or seconds since 1970");
    }
    own(s).atGiven = true;
}
void addPolicy(Settings& s, const char* v) {
    ryx::UniquePtr<ASN1_OBJECT> oid(OBJ_txt2obj(v, 1));
    ERR_clear_error();
    if (!oid) {
        usageError(std::string("bad policy \"") + v + "\": give a dotted OID");
    }
    own(s).policies.emplace_back(v);
}
void setExplicitPolicy(Settings& s, const char*) {
    own(s).explicitPolicy = true;
}
void setCache(Settings& s, const char* v) {
    own(s).cacheDir = v;
}

const cmdline::Option kVerifyOptions[] = {
    {"--trust", "FILE", "trust anchors, a PEM bundle (default: the system's store)", set<setTrust>},
    {"--crl-optional", nullptr, "a certificate without a CRL is a warning, not a failure",
     set<setCrlOptional>},
    {"--at", "TIME", "validate at TIME: YYYY-MM-DDTHH:MM:SSZ or seconds since 1970 (default now)",
     set<setAt>},
    {"--policy", "OID", "an acceptable certificate policy (repeatable); turns policy checking on",
     set<addPolicy>},
    {"--explicit-policy", nullptr, "every certificate of the path must name a policy",
     set<setExplicitPolicy>},
    {"--cache", "DIR",
     "keep fetched revocation lists in DIR for later runs (checked again when read)",
     set<setCache>},
    {nullptr, nullptr, nullptr, nullptr},
};

// Larger files hold no certificates of ours.
constexpr std::streamsize kMaxCertificateFile = 1 << 20;

struct CertificateFile {
    ryx::UniquePtr<X509> cert;  // the first certificate
    ryx::UniquePtr<STACK_OF(X509)> others;
};

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        usageError("cannot read certificate file \"" + path + "\": " + std::strerror(errno));
    }
    // In pieces, so that a small file costs a small buffer.
    std::string bytes;
    char piece[16384];
    while (bytes.size() <= static_cast<size_t>(kMaxCertificateFile) &&
           in.read(piece, sizeof piece).gcount() > 0) {
        bytes.append(piece, static_cast<size_t>(in.gcount()));
    }
    if (in.bad()) {
        usageError("cannot read certificate file \"" + path + "\": " + std::strerror(errno));
    }
    if (bytes.size() > static_cast<size_t>(kMaxCertificateFile)) {
        usageError("certificate file \"" + path + "\" is too large");
    }
    return bytes;
}

// Every certificate of a PEM file, or the one of a DER file; a usage failure
// when there is none.
CertificateFile readCertificates(const std::string& path) {
    const std::string bytes = readBytes(path);
    CertificateFile file;
    file.others.reset(sk_X509_new_null());
    if (!file.others) {
        throw std::bad_alloc();
    }
    ryx::UniquePtr<BIO> bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
    while (bio) {
        ryx::UniquePtr<X509> cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
        if (!cert) {
            break;
        }
        if (!file.cert) {
            file.cert = std::move(cert);
        } else if (sk_X509_push(file.others.get(), cert.get()) > 0) {
            cert.release();
        }
    }
    if (!file.cert) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
        file.cert.reset(d2i_X509(nullptr, &p, static_cast<long>(bytes.size())));
        if (p != reinterpret_cast<const unsigned char*>(bytes.data()) + bytes.size()) {
            file.cert.reset();
        }
    }
    ERR_clear_error();
    if (!file.cert) {
        usageError("certificate file \"" + path + "\" holds no certificate (PEM or DER)");
    }
    return file;
}

int statusOf(RYXPKIXVerdict verdict) {
    switch (verdict) {
        case RYXPKIXVerdict::Valid:
            return EXIT_FOUND;
        case RYXPKIXVerdict::NoPath:
            return EXIT_NO_PATH;
        case RYXPKIXVerdict::RevocationUnavailable:
            return EXIT_REVOCATION;
        default:
            return EXIT_INVALID;
    }
}

std::string verdictLine(const RYXPKIXResult& r) {
    std::string text = RYXPKIXValidator::verdictText(r.verdict);
    if (r.verdict != RYXPKIXVerdict::Valid) {
        text += ": " + r.decisive.text;
        if (r.decisive.depth >= 0) {
            text += " (certificate " + std::to_string(r.decisive.depth) + ")";
        }
    }
    return text;
}

std::string originsText(const std::vector<RYXPKIXOrigin>& origins) {
    std::string text;
    for (const RYXPKIXOrigin& o : origins) {
        text += (text.empty() ? "" : "; ") + o.text();
    }
    return text;
}

std::string revocationText(const RYXPKIXRevocation& r) {
    return "certificate " + std::to_string(r.depth) + " serial=" + r.serial + " revoked " + r.date +
           (r.reason.empty() ? "" : " reason=" + r.reason) + " by the list of " + r.crlIssuer +
           (r.crlNumber.empty() ? "" : " number=" + r.crlNumber);
}

// Notes of the front end (other certificates of the file) and of the validator.
std::vector<std::string> notesOf(const RYXPKIXResult& r, const std::vector<std::string>& own) {
    std::vector<std::string> notes = own;
    notes.insert(notes.end(), r.notes.begin(), r.notes.end());
    return notes;
}

void writeText(Output& out, const RYXPKIXResult& r, const std::vector<std::string>& notes) {
    for (size_t i = 0; i < r.chain.size(); ++i) {
        out.line("certificate " + std::to_string(i) + ": " +
                 certificateText(r.chain[i].cert.get()) + " from " + r.chain[i].origin.text());
    }
    for (size_t i = 0; i < r.crls.size(); ++i) {
        out.line("crl " + std::to_string(i) + ": " + crlText(*r.crls[i].list) + " from " +
                 originsText(r.crls[i].origins) + (r.crls[i].stale ? " (stale)" : ""));
    }
    for (const std::string& uri : r.notFetched) {
        out.line("not fetched: " + uri);
    }
    for (const std::string& n : notes) {
        out.line("note: " + n);
    }
    for (const std::string& w : r.warnings) {
        out.line("warning: " + w);
    }
    for (const RYXPKIXRevocation& rev : r.revocations) {
        out.line("revoked: " + revocationText(rev));
    }
    for (const RYXPKIXError& e : r.errors) {
        out.line("error: " + e.text + " (certificate " + std::to_string(e.depth) + ")");
    }
    out.line("verdict: " + verdictLine(r));
}

void stringsJson(JsonWriter& json, const char* key, const std::vector<std::string>& list) {
    json.key(key);
    json.beginArray();
    for (const std::string& s : list) {
        json.value(s);
    }
    json.endArray();
}

void originJson(JsonWriter& json, const RYXPKIXOrigin& origin) {
    json.beginObject();
    json.member(origin.kind, origin.where);
    json.endObject();
}

void writeJson(JsonWriter& json, const std::string& file, const RYXPKIXResult& r,
               const std::vector<std::string>& notes) {
    json.member("certificate", file);
    json.key("chain");
    json.beginArray();
    for (const RYXPKIXLink& link : r.chain) {
        json.beginObject();
        certificateJson(json, link.cert.get());
        json.key("source");
        originJson(json, link.origin);
        json.endObject();
    }
    json.endArray();
    json.member("anchored", r.anchored);
    json.key("crls");
    json.beginArray();
    for (const RYXPKIXList& list : r.crls) {
        json.beginObject();
        crlJson(json, *list.list);
        json.member("stale", list.stale);
        json.key("sources");
        json.beginArray();
        for (const RYXPKIXOrigin& o : list.origins) {
            originJson(json, o);
        }
        json.endArray();
        json.endObject();
    }
    json.endArray();
    stringsJson(json, "notFetched", r.notFetched);
    stringsJson(json, "notes", notes);
    stringsJson(json, "warnings", r.warnings);
    json.key("revocations");
    json.beginArray();
    for (const RYXPKIXRevocation& rev : r.revocations) {
        json.beginObject();
        json.member("certificate", rev.depth);
        json.member("serial", rev.serial);
        json.member("date", rev.date);
        json.member("reason", rev.reason);
        json.member("crlNumber", rev.crlNumber);
        json.member("crlIssuer", rev.crlIssuer);
        json.endObject();
    }
    json.endArray();
    json.key("errors");
    json.beginArray();
    for (const RYXPKIXError& e : r.errors) {
        json.beginObject();
        json.member("error", e.code);
        json.member("reason", e.text);
        json.member("certificate", e.depth);
        json.endObject();
    }
    json.endArray();
    json.key("verdict");
    json.beginObject();
    json.member("result", RYXPKIXValidator::verdictWord(r.verdict));
    json.member("reason", r.verdict == RYXPKIXVerdict::Valid ? "ok" : r.decisive.text);
    json.member("error", r.decisive.code);
    json.key("certificate");
    if (r.decisive.depth >= 0 && r.verdict != RYXPKIXVerdict::Valid) {
        json.value(r.decisive.depth);
    } else {
        json.null();
    }
    json.endObject();
}

RYXPKIXOptions optionsOf(const VerifySettings& s) {
    RYXPKIXOptions o;
    o.atGiven = s.atGiven;
    o.at = s.at;
    o.crlOptional = s.crlOptional;
    o.cacheDir = s.cacheDir;
    o.policies = s.policies;
    o.explicitPolicy = s.explicitPolicy;
    return o;
}

class Verifier {
  public:
    Verifier(Settings& s, Output& out)
        : m_settings(s),
          m_out(out),
          m_trust(own(s).trustFile.empty() ? TrustStore::system()
                                           : TrustStore::fromFile(own(s).trustFile)),
          m_directory(s) {}

    // One file: its result written; its exit status.
    int verify(const std::string& file, bool several) {
        CertificateFile certs = readCertificates(file);
        std::vector<std::string> own;
        const int others = sk_X509_num(certs.others.get());
        if (others > 0) {
            own.push_back(std::to_string(others) + " other certificate" + (others > 1 ? "s" : "") +
                          " of " + file + " offered as untrusted intermediates");
        }
        RYXPKIXResult r;
        try {
            r = validator().validate(certs.cert.get(), certs.others.get(), {"file", file});
        } catch (const RYXException& e) {
            fail(EXIT_DIRECTORY, "error " + std::to_string(e.getError()) + ": " + e.what());
        }
        const int status = statusOf(r.verdict);
        write(file, r, notesOf(r, own), several, status);
        if (status != EXIT_FOUND) {
            note(file + ": " + verdictLine(r));
        }
        for (const std::string& w : r.warnings) {
            warn(w);
        }
        return status;
    }

  private:
    RYXPKIXValidator& validator() {
        if (!m_validator) {
            RYXDIRManager& manager = m_directory.manager();
            try {
                m_validator = std::make_unique<RYXPKIXValidator>(
                    manager, m_trust.store(), m_trust.origin(), optionsOf(own(m_settings)),
                    m_directory.values());
            } catch (const RYXException& e) {
                usageError(e.what());  // a cache folder that cannot be made
            }
        }
        return *m_validator;
    }

    void write(const std::string& file, const RYXPKIXResult& r,
               const std::vector<std::string>& notes, bool several, int status) {
        if (m_settings.batch) {
            m_out.verdictLine(file, status, verdictLine(r), [&](JsonWriter& json) {
                json.key("result");
                json.beginObject();
                writeJson(json, file, r, notes);
                json.endObject();
            });
        } else if (m_out.json() && several) {
            JsonWriter& json = m_out.document();
            json.beginObject();
            writeJson(json, file, r, notes);
            json.member("status", status);
            json.endObject();
        } else if (m_out.json()) {
            writeJson(m_out.document(), file, r, notes);
        } else {
            if (several) {
                m_out.line("file: " + file);
            }
            writeText(m_out, r, notes);
        }
    }

    Settings& m_settings;
    Output& m_out;
    TrustStore m_trust;
    Directory m_directory;
    std::unique_ptr<RYXPKIXValidator> m_validator;
};

int runVerify(Settings& s, Output& out) {
    if (!s.connection.errorModeGiven) {
        s.connection.errorMode = 1;  // a missing entry holds no certificate or list
    }
    Verifier verifier(s, out);
    int worst = EXIT_FOUND;
    if (s.batch) {
        return eachInputLine(s, out, [&](const std::string& file, std::string& why) {
            try {
                return verifier.verify(file, true);
            } catch (const Failure& f) {
                if (f.status == EXIT_PLUGIN || f.status == EXIT_OUTPUT) {
                    throw;
                }
                why = f.message;
                out.verdictLine(file, f.status, why, nullptr);
                return f.status;
            }
        });
    }
    const bool several = s.operands.size() > 1;
    if (several && out.json()) {
        out.document().key("results");
        out.document().beginArray();
    }
    for (const std::string& file : s.operands) {
        worst = std::max(worst, verifier.verify(file, several));
    }
    if (several && out.json()) {
        out.document().endArray();
    }
    return worst;
}

}  // namespace

const Command kVerifyCommand = {
    {"verify", "CERT-FILE...",
     "validate certificates (PEM or DER; each file's first, its others offered\n"
     "as intermediates): chain and revocation lists from the directory, decision\n"
     "by OpenSSL",
     kVerifyOptions, true},
    "text json",
    Format::Text,
    runVerify,
    nullptr};

}  // namespace ryxdir
