// Host allocator: text handed between the toolkit and its plug-ins.
#ifndef RYXMEMORY_H
#define RYXMEMORY_H

#include "ryxexport.h"

extern "C" {
// Copy of text (null gives null); flags must be 0. Release with ryx_free.
RYX_EXPORT char* ryx_strdup(const char* text, int flags);
// Releases memory from ryx_strdup; null is ignored; flags must be 0.
RYX_EXPORT void ryx_free(void* pointer, int flags);
}

#endif
