// Operating-system layer under the host toolkit: threads, time, environment and
// the dynamic loader. Internal to the toolkit's own libraries.
#ifndef RYXSYS_H
#define RYXSYS_H

#include <cstddef>

#define RYXSYS_EXPORT __attribute__((visibility("default")))

extern "C" {
// Kernel thread id of the caller.
RYXSYS_EXPORT long ryxsys_thread_id(void);
// Local time as "yyyy-mm-dd hh:mm:ss.uuuuuu" into buffer (at least 32 bytes).
RYXSYS_EXPORT void ryxsys_timestamp(char* buffer, size_t room);
// Value of an environment variable, or null.
RYXSYS_EXPORT const char* ryxsys_getenv(const char* name);
// The loader: dlopen(RTLD_NOW | RTLD_LOCAL), dlsym, dlclose, dlerror.
RYXSYS_EXPORT void* ryxsys_dlopen(const char* path);
RYXSYS_EXPORT void* ryxsys_dlsym(void* handle, const char* name);
RYXSYS_EXPORT int ryxsys_dlclose(void* handle);
RYXSYS_EXPORT const char* ryxsys_dlerror(void);
// Folder of the shared object that holds address (no trailing slash) into buffer;
// returns false when it cannot be found.
RYXSYS_EXPORT bool ryxsys_object_folder(const void* address, char* buffer, size_t room);
}

#endif
