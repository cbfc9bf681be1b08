// verify: is a certificate valid, per the directory? The chain and the
// revocation lists come from the directory, the decision from OpenSSL.
#include <openssl/err.h>
#include <openssl/pem.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "chain.h"
#include "describe.h"
#include "directory.h"
#include "handlers.h"
#include "revocation.h"
#include "status.h"
#include "trust.h"
#include "verdict.h"

namespace ryxdir {

namespace {

// Larger files hold no single certificate.
constexpr std::streamsize kMaxCertificateFile = 1 << 20;

// One certificate, PEM or DER; a usage failure otherwise.
X509Ptr readCertificate(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        usageError("cannot read certificate file \"" + path + "\": " + std::strerror(errno));
    }
    std::string bytes;
    bytes.resize(static_cast<size_t>(kMaxCertificateFile) + 1);
    in.read(&bytes[0], kMaxCertificateFile + 1);
    if (in.bad()) {
        usageError("cannot read certificate file \"" + path + "\": " + std::strerror(errno));
    }
    bytes.resize(static_cast<size_t>(in.gcount()));
    if (bytes.size() > static_cast<size_t>(kMaxCertificateFile)) {
        usageError("certificate file \"" + path + "\" is too large");
    }
    X509* cert = nullptr;
    if (BIO* bio = BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size()))) {
        cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
        BIO_free(bio);
    }
    if (cert == nullptr) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
        cert = d2i_X509(nullptr, &p, static_cast<long>(bytes.size()));
        if (cert != nullptr &&
            p != reinterpret_cast<const unsigned char*>(bytes.data()) + bytes.size()) {
            X509_free(cert);
            cert = nullptr;
        }
    }
    ERR_clear_error();
    if (cert == nullptr) {
        usageError("certificate file \"" + path + "\" holds no certificate (PEM or DER)");
    }
    return X509Ptr(cert);
}

std::string originsText(const std::vector<Origin>& origins) {
    std::string text;
    for (const Origin& o : origins) {
        text += (text.empty() ? "" : "; ") + o.text();
    }
    return text;
}

void originJson(JsonWriter& json, const Origin& origin) {
    json.beginObject();
    json.member(origin.kind, origin.where);
    json.endObject();
}

void stringsJson(JsonWriter& json, const char* key, const std::vector<std::string>& list) {
    json.key(key);
    json.beginArray();
    for (const std::string& s : list) {
        json.value(s);
    }
    json.endArray();
}

std::string verdictLine(const Verdict& v) {
    std::string text = verdictText(v.status);
    if (v.status != EXIT_FOUND) {
        text += ": " + v.reason;
        if (v.depth >= 0) {
            text += " (certificate " + std::to_string(v.depth) + ")";
        }
    }
    return text;
}

void writeText(Output& out, const Chain& chain, const Revocation& revocation, const Verdict& v) {
    for (size_t i = 0; i < chain.links.size(); ++i) {
        const Link& link = chain.links[i];
        out.line("certificate " + std::to_string(i) + ": " + certificateText(link.cert.get()) +
                 " from " + link.origin.text());
    }
    for (size_t i = 0; i < revocation.crls.size(); ++i) {
        const CrlRecord& r = revocation.crls[i];
        out.line("crl " + std::to_string(i) + ": " + crlText(r.crl.get()) + " from " +
                 originsText(r.origins));
    }
    for (const std::string& uri : revocation.notFetched) {
        out.line("not fetched: " + uri);
    }
    for (const std::string& n : chain.notes) {
        out.line("note: " + n);
    }
    for (const std::string& n : revocation.notes) {
        out.line("note: " + n);
    }
    for (const std::string& w : v.warnings) {
        out.line("warning: " + w);
    }
    out.line("verdict: " + verdictLine(v));
}

void writeJson(Output& out, const std::string& file, const Chain& chain,
               const Revocation& revocation, const Verdict& v) {
    JsonWriter& json = out.document();
    json.member("certificate", file);
    json.key("chain");
    json.beginArray();
    for (const Link& link : chain.links) {
        json.beginObject();
        certificateJson(json, link.cert.get());
        json.key("source");
        originJson(json, link.origin);
        json.endObject();
    }
    json.endArray();
    json.member("anchored", chain.anchored);
    json.key("crls");
    json.beginArray();
    for (const CrlRecord& r : revocation.crls) {
        json.beginObject();
        crlJson(json, r.crl.get());
        json.key("sources");
        json.beginArray();
        for (const Origin& o : r.origins) {
            originJson(json, o);
        }
        json.endArray();
        json.endObject();
    }
    json.endArray();
    stringsJson(json, "notFetched", revocation.notFetched);
    std::vector<std::string> notes = chain.notes;
    notes.insert(notes.end(), revocation.notes.begin(), revocation.notes.end());
    stringsJson(json, "notes", notes);
    stringsJson(json, "warnings", v.warnings);
    json.key("verdict");
    json.beginObject();
    json.member("result", verdictWord(v.status));
    json.member("reason", v.reason);
    json.member("error", v.error);
    json.key("certificate");
    if (v.depth >= 0) {
        json.value(v.depth);
    } else {
        json.null();
    }
    json.endObject();
}

}  // namespace

int runVerify(Settings& s, Output& out) {
    X509Ptr leaf = readCertificate(s.operand);
    const TrustStore trust =
        s.trustFile.empty() ? TrustStore::system() : TrustStore::fromFile(s.trustFile);
    Directory directory(s);

    const IssuerLookup lookup = [&](const X509_NAME* subject) {
        return directory.caCertificates(RYXASNx500Name(subject));
    };
    const Chain chain = buildChain(std::move(leaf), Origin{"file", s.operand}, trust, lookup);
    const Revocation revocation = gatherRevocation(chain.links, directory);
    const Verdict verdict =
        decide(chain, trust, revocation, DecisionOptions{s.crlOptional, s.atGiven, s.at});

    if (out.json()) {
        writeJson(out, s.operand, chain, revocation, verdict);
    } else {
        writeText(out, chain, revocation, verdict);
    }
    for (const std::string& w : verdict.warnings) {
        note("warning: " + w);
    }
    if (verdict.status != EXIT_FOUND) {
        note(s.operand + ": " + verdictLine(verdict));
    }
    return verdict.status;
}

}  // namespace ryxdir
