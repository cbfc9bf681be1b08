// Shared by the fuzz targets: a broken expectation says what broke and aborts,
// so that libFuzzer keeps the input that broke it.
#ifndef FUZZCHECK_H
#define FUZZCHECK_H

#include <cstdio>
#include <cstdlib>
#include <string>

[[noreturn]] inline void fail(const std::string& what) {
    std::fprintf(stderr, "fuzz: %s\n", what.c_str());
    std::abort();
}

// A fixed text; a text built from the input goes to fail() behind its own
// check, so that it is built only for the input that breaks the expectation.
inline void require(bool ok, const char* what) {
    if (!ok) {
        fail(what);
    }
}

#endif
