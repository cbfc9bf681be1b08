// Where this library was loaded from: the canonical path of its own file.
// Writes no trace.
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "ldapglobal.h"

extern "C" char* ryxdrld_loaded_from(void) {
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&ryxdrld_loaded_from), &info) == 0) {
        return nullptr;
    }
    if (info.dli_fname == nullptr) {
        return nullptr;
    }
    char loaded[4096];
    char resolved[4096];
    strncpy(loaded, info.dli_fname, sizeof loaded - 1);
    loaded[sizeof loaded - 1] = '\0';
    // realpath writes at most PATH_MAX bytes, which fits the buffer.
    static_assert(PATH_MAX <= 4096, "realpath buffer too small");
    if (realpath(loaded, resolved) == nullptr) {
        return nullptr;
    }
    size_t length = strlen(resolved);
    char* copy = static_cast<char*>(malloc(length + 1));
    if (copy == nullptr) {
        return nullptr;
    }
    memcpy(copy, resolved, length + 1);
    return copy;
}
