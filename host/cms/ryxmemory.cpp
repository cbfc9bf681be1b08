#include "ryxmemory.h"

#include <cstdlib>
#include <cstring>

extern "C" {

char* ryx_strdup(const char* text, int /*flags*/) {
    if (text == nullptr) {
        return nullptr;
    }
    size_t n = strlen(text) + 1;
    char* copy = static_cast<char*>(malloc(n));
    if (copy != nullptr) {
        memcpy(copy, text, n);
    }
    return copy;
}

void ryx_free(void* pointer, int /*flags*/) {
    free(pointer);
}
}
