// The host allocator for text handed between the toolkit and plug-ins.
#include "ryxmemory.h"

#include <cstdlib>
#include <cstring>

extern "C" {

char* ryx_strdup(const char* text, int flags) {
    (void)flags;
    if (text == nullptr) {
        return nullptr;
    }
    size_t size = strlen(text) + 1;
    char* copy = static_cast<char*>(malloc(size));
    if (copy != nullptr) {
        memcpy(copy, text, size);
    }
    return copy;
}

void ryx_free(void* pointer, int flags) {
    (void)flags;
    free(pointer);
}
}
