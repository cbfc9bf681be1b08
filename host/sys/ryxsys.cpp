#include "ryxsys.h"

#include <dlfcn.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

extern "C" {

long ryxsys_thread_id(void) {
    return static_cast<long>(syscall(SYS_gettid));
}

void ryxsys_timestamp(char* buffer, size_t room) {
    if (buffer == nullptr || room == 0) {
        return;
    }
    struct timeval now;
    gettimeofday(&now, nullptr);
    struct tm local;
    localtime_r(&now.tv_sec, &local);
    char seconds[24];
    strftime(seconds, sizeof seconds, "%Y-%m-%d %H:%M:%S", &local);
    snprintf(buffer, room, "%s.%06ld", seconds, static_cast<long>(now.tv_usec));
}

const char* ryxsys_getenv(const char* name) {
    return name == nullptr ? nullptr : getenv(name);
}

void* ryxsys_dlopen(const char* path) {
    if (path == nullptr) {
        return nullptr;
    }
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

void* ryxsys_dlsym(void* handle, const char* name) {
    if (handle == nullptr || name == nullptr) {
        return nullptr;
    }
    dlerror();
    return dlsym(handle, name);
}

int ryxsys_dlclose(void* handle) {
    return handle == nullptr ? -1 : dlclose(handle);
}

const char* ryxsys_dlerror(void) {
    return dlerror();
}

bool ryxsys_object_folder(const void* address, char* buffer, size_t room) {
    Dl_info info;
    if (buffer == nullptr || room == 0 || dladdr(address, &info) == 0 ||
        info.dli_fname == nullptr) {
        return false;
    }
    const char* slash = strrchr(info.dli_fname, '/');
    if (slash == nullptr) {
        return false;
    }
    size_t length = static_cast<size_t>(slash - info.dli_fname);
    if (length + 1 > room) {
        return false;
    }
    memcpy(buffer, info.dli_fname, length);
    buffer[length] = '\0';
    return true;
}
}
