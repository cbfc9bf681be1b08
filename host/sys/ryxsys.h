// Operating-system layer of the host toolkit (internal to the toolkit's own
// libraries; plug-ins never call it directly).
#ifndef RYXSYS_H
#define RYXSYS_H

#include <cstddef>

#define RYX_SYS_EXPORT __attribute__((visibility("default")))

extern "C" {
// Kernel id of the calling thread.
RYX_SYS_EXPORT unsigned long ryx_sys_thread_id(void);
// Local wall-clock time as "YYYY-MM-DD hh:mm:ss.uuuuuu" into buffer (always
// NUL-terminated when size > 0). Returns the length written.
RYX_SYS_EXPORT size_t ryx_sys_timestamp(char* buffer, size_t size);
// Value of an environment variable, or null when it is not set.
RYX_SYS_EXPORT const char* ryx_sys_getenv(const char* name);
// Thin wrappers over the dynamic loader. With RYX_KEEP_LIBRARIES=1 in the
// environment, libraries stay mapped after their last close, so that a leak
// checker running at exit can still name their code and see their globals.
RYX_SYS_EXPORT void* ryx_sys_dlopen(const char* path, int flags);
RYX_SYS_EXPORT void* ryx_sys_dlsym(void* handle, const char* name);
RYX_SYS_EXPORT int ryx_sys_dlclose(void* handle);
// Loader error text of the calling thread since the last call, or null.
RYX_SYS_EXPORT const char* ryx_sys_dlerror(void);
// Path of the shared object that contains address, or null.
RYX_SYS_EXPORT const char* ryx_sys_object_path(const void* address);
// Non-zero when path names an existing file.
RYX_SYS_EXPORT int ryx_sys_file_exists(const char* path);
}

#endif
