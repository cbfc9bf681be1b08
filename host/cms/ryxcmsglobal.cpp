#include "ryxcmsglobal.h"

#include <openssl/crypto.h>

#include <atomic>

namespace {
std::atomic<int> g_useCount{0};
}

RYXCMSGlobal::RYXCMSGlobal() {
    // OpenSSL's error texts are loaded when an error is first put into words
    // (ryxasn_internal::takeOpenSSLErrors), not by every process at start.
    if (g_useCount.fetch_add(1) == 0) {
        OPENSSL_init_crypto(0, nullptr);
    }
}

RYXCMSGlobal::~RYXCMSGlobal() {
    g_useCount.fetch_sub(1);
}

int RYXCMSGlobal::useCount() {
    return g_useCount.load();
}
