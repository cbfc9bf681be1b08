#include "decide.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <set>

namespace ryxpkix {

namespace {

// Errors that are not about the certificate itself: a missing issuer or an
// untrusted root, and revocation lists that are missing or cannot be used.
// Every other error says the certificate is invalid.
const int kNoPath[] = {
    X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT,
    X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY,
    X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE,
    X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT,
    X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN,
    X509_V_ERR_CERT_CHAIN_TOO_LONG,
    X509_V_ERR_CERT_UNTRUSTED,
};
const int kRevocation[] = {
    X509_V_ERR_UNABLE_TO_GET_CRL,
    X509_V_ERR_UNABLE_TO_GET_CRL_ISSUER,
    X509_V_ERR_UNABLE_TO_DECRYPT_CRL_SIGNATURE,
    X509_V_ERR_CRL_SIGNATURE_FAILURE,
    X509_V_ERR_CRL_NOT_YET_VALID,
    X509_V_ERR_CRL_HAS_EXPIRED,
    X509_V_ERR_ERROR_IN_CRL_LAST_UPDATE_FIELD,
    X509_V_ERR_ERROR_IN_CRL_NEXT_UPDATE_FIELD,
    X509_V_ERR_KEYUSAGE_NO_CRL_SIGN,
    X509_V_ERR_UNHANDLED_CRITICAL_CRL_EXTENSION,
    X509_V_ERR_DIFFERENT_CRL_SCOPE,
    X509_V_ERR_CRL_PATH_VALIDATION_ERROR,
};
// Errors after which a list's entries say nothing: its signer is unknown or wrong.
const int kUntrustedList[] = {
    X509_V_ERR_UNABLE_TO_GET_CRL_ISSUER,
    X509_V_ERR_UNABLE_TO_DECRYPT_CRL_SIGNATURE,
    X509_V_ERR_CRL_SIGNATURE_FAILURE,
    X509_V_ERR_KEYUSAGE_NO_CRL_SIGN,
    X509_V_ERR_CRL_PATH_VALIDATION_ERROR,
    X509_V_ERR_DIFFERENT_CRL_SCOPE,
    X509_V_ERR_UNHANDLED_CRITICAL_CRL_EXTENSION,
};

template <size_t N>
bool among(int error, const int (&list)[N]) {
    return std::find(std::begin(list), std::end(list), error) != std::end(list);
}

RYXPKIXVerdict classOf(int error) {
    if (among(error, kNoPath)) {
        return RYXPKIXVerdict::NoPath;
    }
    return among(error, kRevocation) ? RYXPKIXVerdict::RevocationUnavailable
                                     : RYXPKIXVerdict::Invalid;
}

// The stronger verdict: invalid, then no path, then revocation unavailable.
int rank(RYXPKIXVerdict v) {
    switch (v) {
        case RYXPKIXVerdict::Invalid:
            return 3;
        case RYXPKIXVerdict::NoPath:
            return 2;
        case RYXPKIXVerdict::RevocationUnavailable:
            return 1;
        default:
            return 0;
    }
}

std::string reasonName(long code) {
    static const char* const names[] = {
        "unspecified",   "keyCompromise",        "cACompromise",    "affiliationChanged",
        "superseded",    "cessationOfOperation", "certificateHold", "",
        "removeFromCRL", "privilegeWithdrawn",   "aACompromise"};
    return code >= 0 && code < 11 ? names[code] : "reason " + std::to_string(code);
}

std::string integerText(const ASN1_INTEGER* number, char* (*toText)(const BIGNUM*)) {
    ryx::UniquePtr<BIGNUM> bn(number != nullptr ? ASN1_INTEGER_to_BN(number, nullptr) : nullptr);
    ryx::UniquePtr<char> text(bn ? toText(bn.get()) : nullptr);
    return text ? std::string(text.get()) : std::string();
}

struct Collector {
    const RYXPKIXOptions* options = nullptr;
    RYXPKIXResult* result = nullptr;
    ListSignatures* signatures = nullptr;
    // Narrowed copies handed to OpenSSL, and the lists they were made from.
    std::map<const X509_CRL*, ListPtr> narrowed;
    std::set<const X509_CRL*> untrustedLists;
    // The list OpenSSL is checking or looking the certificate up in.
    X509_CRL* listInUse = nullptr;
    // Verdict class of each error kept, in order.
    std::vector<RYXPKIXVerdict> classes;

    void revoked(X509_STORE_CTX* ctx, int depth) {
        X509_CRL* crl = listInUse;
        X509* cert = X509_STORE_CTX_get_current_cert(ctx);
        X509_REVOKED* entry = nullptr;
        if (crl == nullptr || cert == nullptr || X509_CRL_get0_by_cert(crl, &entry, cert) != 1) {
            return;
        }
        RYXPKIXRevocation r;
        r.depth = depth;
        r.serial = integerText(X509_REVOKED_get0_serialNumber(entry), BN_bn2hex);
        r.date = isoTime(X509_REVOKED_get0_revocationDate(entry));
        ryx::UniquePtr<ASN1_STRING> reason(static_cast<ASN1_STRING*>(
            X509_REVOKED_get_ext_d2i(entry, NID_crl_reason, nullptr, nullptr)));
        if (reason) {
            r.reason = reasonName(ASN1_ENUMERATED_get(reason.get()));
        }
        ryx::UniquePtr<ASN1_STRING> number(
            static_cast<ASN1_STRING*>(X509_CRL_get_ext_d2i(crl, NID_crl_number, nullptr, nullptr)));
        r.crlNumber = integerText(number.get(), BN_bn2dec);
        r.crlIssuer = nameText(X509_CRL_get_issuer(crl));
        result->revocations.push_back(std::move(r));
    }

    // The certificate whose key OpenSSL checks a list's signature with: the
    // list's issuer it found, else the next one up the chain.
    static const X509* listSigner(X509_STORE_CTX* ctx, int depth) {
        if (const X509* issuer = X509_STORE_CTX_get0_current_issuer(ctx)) {
            return issuer;
        }
        STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(ctx);
        const int last = sk_X509_num(chain) - 1;
        return last < 0 ? nullptr : sk_X509_value(chain, std::min(depth + 1, last));
    }

    // A narrowed copy's signature failure, where the whole list verifies.
    bool copyOfGoodList(X509_STORE_CTX* ctx, int error, int depth) const {
        auto copy = narrowed.find(listInUse);
        if (error != X509_V_ERR_CRL_SIGNATURE_FAILURE || copy == narrowed.end()) {
            return false;
        }
        const X509* signer = listSigner(ctx, depth);
        return signer != nullptr && signatures->verifies(copy->second, X509_get0_pubkey(signer));
    }

    void add(X509_STORE_CTX* ctx) {
        const int error = X509_STORE_CTX_get_error(ctx);
        const int depth = X509_STORE_CTX_get_error_depth(ctx);
        if (copyOfGoodList(ctx, error, depth)) {
            return;
        }
        const X509_CRL* crl = listInUse;
        RYXPKIXVerdict cls = classOf(error);
        std::string text = X509_verify_cert_error_string(error);
        if (among(error, kUntrustedList) && crl != nullptr) {
            untrustedLists.insert(crl);
        }
        if (error == X509_V_ERR_CERT_REVOKED) {
            if (untrustedLists.count(crl) != 0) {
                // Listed by a list whose signer is not established: unknown, not revoked.
                cls = RYXPKIXVerdict::RevocationUnavailable;
                text += " (by a list that cannot be trusted)";
            } else {
                revoked(ctx, depth);
            }
        }
        if (error == X509_V_ERR_UNABLE_TO_GET_CRL && options->crlOptional) {
            const X509* cert = X509_STORE_CTX_get_current_cert(ctx);
            result->warnings.push_back(
                "no revocation list for certificate " + std::to_string(depth) +
                (cert != nullptr ? " (" + nameText(X509_get_subject_name(cert)) + ")" : ""));
            return;
        }
        const bool seen =
            std::any_of(result->errors.begin(), result->errors.end(),
                        [&](const RYXPKIXError& e) { return e.code == error && e.depth == depth; });
        if (!seen) {
            result->errors.push_back(RYXPKIXError{error, depth, text});
            classes.push_back(cls);
        }
    }
};

int collectorIndex() {
    static const int index = X509_STORE_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

Collector* collectorOf(X509_STORE_CTX* ctx) {
    return static_cast<Collector*>(X509_STORE_CTX_get_ex_data(ctx, collectorIndex()));
}

// OpenSSL's own list checks, taken from a context of a store without ours.
struct ListChecks {
    X509_STORE_CTX_check_crl_fn check;
    X509_STORE_CTX_cert_crl_fn lookUp;
};

const ListChecks& openSSLChecks() {
    static const ListChecks checks = [] {
        ryx::UniquePtr<X509_STORE> store(X509_STORE_new());
        ryx::UniquePtr<X509_STORE_CTX> ctx(X509_STORE_CTX_new());
        if (!store || !ctx || X509_STORE_CTX_init(ctx.get(), store.get(), nullptr, nullptr) != 1) {
            throw std::bad_alloc();
        }
        return ListChecks{X509_STORE_CTX_get_check_crl(ctx.get()),
                          X509_STORE_CTX_get_cert_crl(ctx.get())};
    }();
    return checks;
}

// OpenSSL's checks of a list, with the list noted for the errors they raise
// (OpenSSL does not say which list an error is about).
int checkList(X509_STORE_CTX* ctx, X509_CRL* crl) {
    Collector* collector = collectorOf(ctx);
    if (collector != nullptr) {
        collector->listInUse = crl;
    }
    const int ok = openSSLChecks().check(ctx, crl);
    if (collector != nullptr) {
        collector->listInUse = nullptr;
    }
    return ok;
}

int lookUpInList(X509_STORE_CTX* ctx, X509_CRL* crl, X509* cert) {
    Collector* collector = collectorOf(ctx);
    if (collector != nullptr) {
        collector->listInUse = crl;
    }
    const int ok = openSSLChecks().lookUp(ctx, crl, cert);
    if (collector != nullptr) {
        collector->listInUse = nullptr;
    }
    return ok;
}

// Every error is kept and verification goes on, so that OpenSSL reports all
// it finds; the verdict is made of them afterwards.
int onResult(int ok, X509_STORE_CTX* ctx) {
    if (ok == 0) {
        collectorOf(ctx)->add(ctx);
    }
    return 1;
}

void push(STACK_OF(X509) * stack, X509* cert) {
    X509_up_ref(cert);
    ryx::UniquePtr<X509> reference(cert);
    if (sk_X509_push(stack, cert) <= 0) {
        throw std::bad_alloc();
    }
    reference.release();  // the stack holds it now
}

void push(STACK_OF(X509_CRL) * stack, X509_CRL* crl) {
    X509_CRL_up_ref(crl);
    ryx::UniquePtr<X509_CRL> reference(crl);
    if (sk_X509_CRL_push(stack, crl) <= 0) {
        throw std::bad_alloc();
    }
    reference.release();  // the stack holds it now
}

void setParameters(X509_VERIFY_PARAM* param, const RYXPKIXOptions& options) {
    X509_VERIFY_PARAM_set_flags(param, X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL |
                                           X509_V_FLAG_EXTENDED_CRL_SUPPORT |
                                           X509_V_FLAG_USE_DELTAS);
    if (options.atGiven) {
        X509_VERIFY_PARAM_set_time(param, options.at);
    }
    if (!options.policies.empty()) {
        ryx::UniquePtr<STACK_OF(ASN1_OBJECT)> policies(sk_ASN1_OBJECT_new_null());
        for (const std::string& oid : options.policies) {
            ryx::UniquePtr<ASN1_OBJECT> object(OBJ_txt2obj(oid.c_str(), 1));
            if (object && sk_ASN1_OBJECT_push(policies.get(), object.get()) > 0) {
                object.release();  // the stack holds it now
            }
        }
        X509_VERIFY_PARAM_set1_policies(param, policies.get());  // turns policy checking on
    }
    if (options.explicitPolicy) {
        X509_VERIFY_PARAM_set_flags(param, X509_V_FLAG_POLICY_CHECK | X509_V_FLAG_EXPLICIT_POLICY);
    }
}

}  // namespace

void useListChecks(X509_STORE* anchors) {
    openSSLChecks();
    X509_STORE_set_check_crl(anchors, checkList);
    X509_STORE_set_cert_crl(anchors, lookUpInList);
}

bool ListSignatures::verifies(const ListPtr& list, EVP_PKEY* key) {
    unsigned char* der = nullptr;
    const int length = i2d_PUBKEY(key, &der);
    ryx::UniquePtr<unsigned char> owned(der);
    if (length <= 0) {
        ERR_clear_error();
        return false;
    }
    const std::string id(reinterpret_cast<const char*>(der), static_cast<size_t>(length));
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto checked = m_checked.find(list.get());
        if (checked != m_checked.end()) {
            auto known = checked->second.byKey.find(id);
            if (known != checked->second.byKey.end()) {
                return known->second;
            }
        }
    }
    // Checked outside the lock: a large list takes a while to hash.
    const bool ok = listSignedBy(*list, key);
    std::lock_guard<std::mutex> lock(m_mutex);
    Checked& checked = m_checked[list.get()];
    checked.list = list;
    checked.byKey[id] = ok;
    return ok;
}

void decide(RYXPKIXResult& result, X509_STORE* anchors, const RYXPKIXOptions& options,
            ListSignatures& signatures) {
    ryx::UniquePtr<X509_STORE_CTX> ctx(X509_STORE_CTX_new());
    ryx::UniquePtr<STACK_OF(X509)> ownUntrusted(sk_X509_new_null());
    ryx::UniquePtr<STACK_OF(X509_CRL)> ownCrls(sk_X509_CRL_new_null());
    STACK_OF(X509)* untrusted = ownUntrusted.get();
    STACK_OF(X509_CRL)* crls = ownCrls.get();
    if (!ctx || untrusted == nullptr || crls == nullptr) {
        throw std::bad_alloc();
    }
    for (size_t i = 1; i < result.chain.size(); ++i) {
        if (result.chain[i].origin.kind != "trust") {
            push(untrusted, result.chain[i].cert.get());
        }
    }
    Collector collector;
    collector.options = &options;
    collector.result = &result;
    collector.signatures = &signatures;
    std::vector<std::string> serials;
    for (const RYXPKIXLink& link : result.chain) {
        ryx::UniquePtr<BIGNUM> bn(
            ASN1_INTEGER_to_BN(X509_get0_serialNumber(link.cert.get()), nullptr));
        ryx::UniquePtr<char> hex(bn ? BN_bn2hex(bn.get()) : nullptr);
        if (hex && std::find(serials.begin(), serials.end(), hex.get()) == serials.end()) {
            serials.emplace_back(hex.get());
        }
    }
    for (const RYXPKIXList& list : result.crls) {
        const RYXBuffer copy = list.list->getNarrowedDER(serials);
        const unsigned char* p = copy.getValue();
        ryx::UniquePtr<X509_CRL> narrowed(
            copy.getLength() != 0 && copy.getLength() < list.list->getDERView().getLength()
                ? d2i_X509_CRL(nullptr, &p, copy.getLength())
                : nullptr);
        ERR_clear_error();
        if (narrowed) {
            collector.narrowed.emplace(narrowed.get(), list.list);
            push(crls, narrowed.get());
        } else {
            push(crls, const_cast<X509_CRL*>(list.list->native()));
        }
    }
    if (X509_STORE_CTX_init(ctx.get(), anchors, result.chain.front().cert.get(), untrusted) != 1) {
        throw std::bad_alloc();
    }
    X509_STORE_CTX_set0_crls(ctx.get(), crls);
    setParameters(X509_STORE_CTX_get0_param(ctx.get()), options);
    X509_STORE_CTX_set_ex_data(ctx.get(), collectorIndex(), &collector);
    X509_STORE_CTX_set_verify_cb(ctx.get(), onResult);

    if (X509_verify_cert(ctx.get()) != 1 && result.errors.empty()) {
        // A failure that went past the callback (memory, an internal error).
        const int error = X509_STORE_CTX_get_error(ctx.get());
        result.errors.push_back(RYXPKIXError{error == X509_V_OK ? X509_V_ERR_UNSPECIFIED : error,
                                             X509_STORE_CTX_get_error_depth(ctx.get()),
                                             X509_verify_cert_error_string(error)});
        collector.classes.push_back(RYXPKIXVerdict::Invalid);
    }
    ERR_clear_error();
    result.verdict = RYXPKIXVerdict::Valid;
    result.decisive = RYXPKIXError{};
    // The strongest class decides; within it, the error nearest the
    // certificate asked about, then the first reported.
    for (size_t i = 0; i < result.errors.size(); ++i) {
        const int order = rank(collector.classes[i]) - rank(result.verdict);
        if (order > 0 || (order == 0 && result.errors[i].depth < result.decisive.depth)) {
            result.verdict = collector.classes[i];
            result.decisive = result.errors[i];
        }
    }
}

}  // namespace ryxpkix
