#include "verdict.h"

#include <openssl/err.h>

#include "describe.h"
#include "status.h"

namespace ryxdir {

namespace {

struct ErrorClass {
    int error;
    int status;
};

// Errors that are not about the certificate itself: a missing issuer or an
// untrusted root, and revocation lists that are missing or cannot be used.
// Every other error says the certificate is invalid.
const ErrorClass kErrorClasses[] = {
    {X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT, EXIT_NO_PATH},
    {X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY, EXIT_NO_PATH},
    {X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE, EXIT_NO_PATH},
    {X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, EXIT_NO_PATH},
    {X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN, EXIT_NO_PATH},
    {X509_V_ERR_CERT_CHAIN_TOO_LONG, EXIT_NO_PATH},
    {X509_V_ERR_CERT_UNTRUSTED, EXIT_NO_PATH},
    {X509_V_ERR_UNABLE_TO_GET_CRL, EXIT_REVOCATION},
    {X509_V_ERR_UNABLE_TO_GET_CRL_ISSUER, EXIT_REVOCATION},
    {X509_V_ERR_UNABLE_TO_DECRYPT_CRL_SIGNATURE, EXIT_REVOCATION},
    {X509_V_ERR_CRL_SIGNATURE_FAILURE, EXIT_REVOCATION},
    {X509_V_ERR_CRL_NOT_YET_VALID, EXIT_REVOCATION},
    {X509_V_ERR_CRL_HAS_EXPIRED, EXIT_REVOCATION},
    {X509_V_ERR_ERROR_IN_CRL_LAST_UPDATE_FIELD, EXIT_REVOCATION},
    {X509_V_ERR_ERROR_IN_CRL_NEXT_UPDATE_FIELD, EXIT_REVOCATION},
    {X509_V_ERR_KEYUSAGE_NO_CRL_SIGN, EXIT_REVOCATION},
    {X509_V_ERR_UNHANDLED_CRITICAL_CRL_EXTENSION, EXIT_REVOCATION},
    {X509_V_ERR_DIFFERENT_CRL_SCOPE, EXIT_REVOCATION},
    {X509_V_ERR_CRL_PATH_VALIDATION_ERROR, EXIT_REVOCATION},
};

struct CallbackState {
    bool crlOptional;
    std::vector<std::string>* warnings;
};

int callbackIndex() {
    static const int index = X509_STORE_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

// With --crl-optional a missing list is noted and verification goes on.
int onResult(int ok, X509_STORE_CTX* ctx) {
    auto* state = static_cast<CallbackState*>(X509_STORE_CTX_get_ex_data(ctx, callbackIndex()));
    if (ok == 0 && state != nullptr && state->crlOptional &&
        X509_STORE_CTX_get_error(ctx) == X509_V_ERR_UNABLE_TO_GET_CRL) {
        const X509* cert = X509_STORE_CTX_get_current_cert(ctx);
        state->warnings->push_back(
            "no revocation list for certificate " +
            std::to_string(X509_STORE_CTX_get_error_depth(ctx)) +
            (cert != nullptr ? " (" + nameText(X509_get_subject_name(cert)) + ")" : ""));
        X509_STORE_CTX_set_error(ctx, X509_V_OK);
        return 1;
    }
    return ok;
}

}  // namespace

int statusForError(int error) {
    if (error == X509_V_OK) {
        return EXIT_FOUND;
    }
    for (const ErrorClass& c : kErrorClasses) {
        if (c.error == error) {
            return c.status;
        }
    }
    return EXIT_INVALID;
}

const char* verdictText(int status) {
    switch (status) {
        case EXIT_FOUND:
            return "valid";
        case EXIT_NO_PATH:
            return "no path to a trust anchor";
        case EXIT_REVOCATION:
            return "revocation status unavailable";
        default:
            return "invalid";
    }
}

const char* verdictWord(int status) {
    switch (status) {
        case EXIT_FOUND:
            return "valid";
        case EXIT_NO_PATH:
            return "no-path";
        case EXIT_REVOCATION:
            return "revocation-unavailable";
        default:
            return "invalid";
    }
}

Verdict decide(const Chain& chain, const TrustStore& trust, const Revocation& revocation,
               const DecisionOptions& options) {
    CertStack untrusted(sk_X509_new_null());
    CrlStack crls(sk_X509_CRL_new_null());
    StoreCtxPtr ctx(X509_STORE_CTX_new());
    if (!untrusted || !crls || !ctx) {
        throw std::bad_alloc();
    }
    for (size_t i = 1; i < chain.links.size(); ++i) {
        if (chain.links[i].origin.kind != "trust") {
            X509Ptr cert = shared(chain.links[i].cert.get());
            if (sk_X509_push(untrusted.get(), cert.get()) <= 0) {
                throw std::bad_alloc();
            }
            cert.release();
        }
    }
    for (const CrlRecord& record : revocation.crls) {
        CrlPtr crl = shared(record.crl.get());
        if (sk_X509_CRL_push(crls.get(), crl.get()) <= 0) {
            throw std::bad_alloc();
        }
        crl.release();
    }
    if (X509_STORE_CTX_init(ctx.get(), trust.store(), chain.links.front().cert.get(),
                            untrusted.get()) != 1) {
        throw std::bad_alloc();
    }
    X509_STORE_CTX_set0_crls(ctx.get(), crls.get());
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx.get());
    X509_VERIFY_PARAM_set_flags(param, X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL);
    if (options.atGiven) {
        X509_VERIFY_PARAM_set_time(param, options.at);
    }
    Verdict verdict;
    CallbackState state{options.crlOptional, &verdict.warnings};
    X509_STORE_CTX_set_ex_data(ctx.get(), callbackIndex(), &state);
    X509_STORE_CTX_set_verify_cb(ctx.get(), onResult);

    const int ok = X509_verify_cert(ctx.get());
    verdict.error = X509_STORE_CTX_get_error(ctx.get());
    verdict.depth = X509_STORE_CTX_get_error_depth(ctx.get());
    if (ok == 1) {
        verdict.error = X509_V_OK;
        verdict.depth = -1;
    } else if (verdict.error == X509_V_OK) {
        verdict.error = X509_V_ERR_UNSPECIFIED;
    }
    verdict.reason = X509_verify_cert_error_string(verdict.error);
    verdict.status = statusForError(verdict.error);
    ERR_clear_error();
    return verdict;
}

}  // namespace ryxdir
