#include "ryxcmsglobal.h"

#include <openssl/crypto.h>

#include <atomic>

namespace {
std::atomic<int> g_useCount{0};
}

RYXCMSGlobal::RYXCMSGlobal() {
    if (g_useCount.fetch_add(1) == 0) {
        OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
    }
}

RYXCMSGlobal::~RYXCMSGlobal() {
    g_useCount.fetch_sub(1);
}

int RYXCMSGlobal::useCount() {
    return g_useCount.load();
}
