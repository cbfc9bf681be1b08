#include "ryxlibrary.h"

#include <dlfcn.h>

#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "ryxexception.h"
#include "ryxsys.h"

namespace {
struct Registry {
    std::mutex mutex;
    std::vector<std::pair<std::string, RYXLibEntryFunction>> entries;
};

Registry& registry() {
    static Registry* r = new Registry;  // outlives every plug-in's unload
    return *r;
}

thread_local std::string t_lastError;

void* tryLoad(const std::string& path) {
    void* handle = ryx_sys_dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* e = ryx_sys_dlerror();
        t_lastError = e != nullptr ? e : ("cannot load " + path);
    }
    return handle;
}

bool fileExists(const std::string& path) {
    return ryx_sys_file_exists(path.c_str()) != 0;
}

// Folder of the shared object that holds this code (the host library itself).
std::string ownFolder() {
    const char* path =
        ryx_sys_object_path(reinterpret_cast<const void*>(&RYXLibraryManager::loadLibraryReally));
    if (path == nullptr) {
        return std::string();
    }
    std::string folder(path);
    size_t slash = folder.rfind('/');
    return slash == std::string::npos ? std::string(".") : folder.substr(0, slash);
}
}  // namespace

extern "C" {

int ryx_load_library(const char* name, void** handle) {
    if (name == nullptr || *name == '\0' || handle == nullptr) {
        t_lastError = "no library name given";
        return -1;
    }
    void* h = tryLoad(name);
    if (h == nullptr) {
        return -1;
    }
    *handle = h;
    return 0;
}

int ryx_get_func_address(void* handle, const char* name, void** address) {
    if (handle == nullptr || name == nullptr || address == nullptr) {
        return -1;
    }
    void* p = ryx_sys_dlsym(handle, name);
    if (p == nullptr) {
        t_lastError = std::string("symbol not found: ") + name;
        return -1;
    }
    *address = p;
    return 0;
}

int ryx_free_library(void* handle) {
    return ryx_sys_dlclose(handle);
}

const char* ryx_library_error(void) {
    return t_lastError.c_str();
}
}

void* RYXLibraryManager::loadLibraryReally(const RYXString& name, const RYXString& directory) {
    if (name.empty()) {
        t_lastError = "no library name given";
        return nullptr;
    }
    if (name.find('/') != RYXString::npos) {
        return tryLoad(name.c_str());
    }
    const std::string file = std::string("lib") + name.c_str() + ".so";
    std::vector<std::string> folders;
    if (!directory.empty()) {
        folders.emplace_back(directory.c_str());
    }
    if (const char* path = ryx_sys_getenv("RYX_LIBRARY_PATH")) {
        std::string all(path);
        size_t start = 0;
        while (start <= all.size()) {
            size_t colon = all.find(':', start);
            std::string part =
                all.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
            if (!part.empty()) {
                folders.push_back(part);
            }
            if (colon == std::string::npos) {
                break;
            }
            start = colon + 1;
        }
    }
    std::string own = ownFolder();
    if (!own.empty()) {
        folders.push_back(own);
    }
    for (const std::string& folder : folders) {
        std::string candidate = folder + "/" + file;
        if (fileExists(candidate)) {
            return tryLoad(candidate);
        }
    }
    return tryLoad(file);  // the loader's own search path
}

void RYXLibraryManager::addLibEntry(const RYXString& name, RYXLibEntryFunction entry) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.entries.emplace_back(name.c_str(), entry);
}

void RYXLibraryManager::removeLibEntries(RYXLibEntryFunction entry) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    std::vector<std::pair<std::string, RYXLibEntryFunction>> kept;
    for (auto& e : r.entries) {
        if (e.second != entry) {
            kept.push_back(e);
        }
    }
    r.entries.swap(kept);
}

RYXLibEntryFunction RYXLibraryManager::findLibEntry(const RYXString& name) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (auto it = r.entries.rbegin(); it != r.entries.rend(); ++it) {
        if (it->first == name.c_str()) {
            return it->second;
        }
    }
    return nullptr;
}

size_t RYXLibraryManager::countLibEntries(const RYXString& name) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    size_t n = 0;
    for (auto& e : r.entries) {
        n += e.first == name.c_str() ? 1 : 0;
    }
    return n;
}

void* RYXLibraryManager::loadPlugin(const RYXString& name) {
    void* handle = loadLibraryReally(name, RYXString());
    if (handle == nullptr) {
        RYXString message("cannot load plug-in ");
        message += name;
        message += ": ";
        message += ryx_library_error();
        throw RYXException(__FILE__, __LINE__, RYX_ERR_LIBRARY, message);
    }
    return handle;
}

void RYXLibraryManager::unloadPlugin(void* handle) {
    if (handle != nullptr) {
        ryx_sys_dlclose(handle);
    }
}

void* RYXLibraryManager::callLibEntry(const RYXString& name, void* args) {
    RYXLibEntryFunction entry = findLibEntry(name);
    if (entry == nullptr) {
        RYXString message("no entry function registered under ");
        message += name;
        throw RYXException(__FILE__, __LINE__, RYX_ERR_LIBRARY, message);
    }
    return entry(args);
}
