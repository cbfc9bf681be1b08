#include "diag.h"

#include <cstring>

#include "ryxldapdiag.h"

namespace ryxldap {

namespace {

// Plain arrays and pointers: a thread_local with a destructor would pin the
// library.
constexpr size_t kDnRoom = 1024;
thread_local bool t_missed = false;
thread_local bool t_noted = false;  // by the search call under way
thread_local int t_code = 0;
thread_local char t_base[kDnRoom];
thread_local char t_matched[kDnRoom];

thread_local ryx_ldap_progress_fn t_progress = nullptr;
thread_local void* t_progressArg = nullptr;
thread_local unsigned long long t_received = 0;

// text into room, cut with "..." when it does not fit.
void keep(char* room, const char* text) {
    const size_t n = text != nullptr ? std::strlen(text) : 0;
    if (n < kDnRoom) {
        std::memcpy(room, text != nullptr ? text : "", n + 1);
        return;
    }
    std::memcpy(room, text, kDnRoom - 4);
    std::memcpy(room + kDnRoom - 4, "...", 4);
}

}  // namespace

void startProgress() {
    t_received = 0;
    if (t_progress != nullptr)
        t_progress(0, 0, t_progressArg);
}

void noteReceived(size_t n) {
    t_received += n;
    if (t_progress != nullptr)
        t_progress(t_received, 0, t_progressArg);
}

void beginSearch() {
    t_missed = false;
    t_noted = false;
}

void endSearch(const char* base, int code) {
    if (!t_noted && code != 0)
        noteSearch(base, code, 0, nullptr);
    if (t_progress != nullptr)
        t_progress(t_received, 1, t_progressArg);
}

void noteSearch(const char* base, int code, int entries, const char* matched) {
    t_noted = true;
    t_missed = code != 0 || entries <= 0;
    if (!t_missed)
        return;
    t_code = code;
    keep(t_base, base);
    keep(t_matched, matched);
}

}  // namespace ryxldap

extern "C" {

int ryx_ldap_last_miss(int* code, const char** base, const char** matched) {
    if (!ryxldap::t_missed)
        return 0;
    if (code != nullptr)
        *code = ryxldap::t_code;
    if (base != nullptr)
        *base = ryxldap::t_base;
    if (matched != nullptr)
        *matched = ryxldap::t_matched;
    return 1;
}

void ryx_ldap_set_progress(ryx_ldap_progress_fn fn, void* arg) {
    ryxldap::t_progress = fn;
    ryxldap::t_progressArg = arg;
}
}
