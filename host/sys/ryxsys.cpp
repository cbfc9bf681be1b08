#include "ryxsys.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

extern "C" {

unsigned long ryx_sys_thread_id(void) {
    return static_cast<unsigned long>(syscall(SYS_gettid));
}

size_t ryx_sys_timestamp(char* buffer, size_t size) {
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    struct tm parts;
    time_t seconds = tv.tv_sec;
    localtime_r(&seconds, &parts);
    int n = snprintf(buffer, size, "%04d-%02d-%02d %02d:%02d:%02d.%06ld", parts.tm_year + 1900,
                     parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                     static_cast<long>(tv.tv_usec));
    if (n < 0) {
        buffer[0] = '\0';
        return 0;
    }
    return static_cast<size_t>(n) < size ? static_cast<size_t>(n) : size - 1;
}

const char* ryx_sys_getenv(const char* name) {
    return name == nullptr ? nullptr : getenv(name);
}

void* ryx_sys_dlopen(const char* path, int flags) {
    const char* keep = getenv("RYX_KEEP_LIBRARIES");
    if (keep != nullptr && keep[0] == '1' && keep[1] == '\0') {
        flags |= RTLD_NODELETE;
    }
    return dlopen(path, flags);
}

void* ryx_sys_dlsym(void* handle, const char* name) {
    return dlsym(handle, name);
}

int ryx_sys_dlclose(void* handle) {
    return dlclose(handle);
}

const char* ryx_sys_dlerror(void) {
    return dlerror();
}

const char* ryx_sys_object_path(const void* address) {
    Dl_info info;
    if (dladdr(address, &info) == 0 || info.dli_fname == nullptr || info.dli_fname[0] == '\0') {
        return nullptr;
    }
    return info.dli_fname;
}

int ryx_sys_file_exists(const char* path) {
    struct stat st;
    return path != nullptr && stat(path, &st) == 0 ? 1 : 0;
}
}
