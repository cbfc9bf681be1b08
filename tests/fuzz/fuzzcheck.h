// Shared by the fuzz targets: a broken expectation says what broke and aborts,
// so that libFuzzer keeps the input that broke it.
#ifndef FUZZCHECK_H
#define FUZZCHECK_H

#include <cstdio>
#include <cstdlib>
#include <string>

inline void require(bool ok, const std::string& what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz: %s\n", what.c_str());
        std::abort();
    }
}

#endif
