#include "ryxlibrary.h"

#include <unistd.h>

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
    void* handle = ryxsys_dlopen(path.c_str());
    if (handle == nullptr) {
        const char* e = ryxsys_dlerror();
        t_lastError = e != nullptr ? e : ("cannot load " + path);
    }
    return handle;
}

bool fileExists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
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
    void* p = ryxsys_dlsym(handle, name);
    if (p == nullptr) {
        t_lastError = std::string("symbol not found: ") + name;
        return -1;
    }
    *address = p;
    return 0;
}

int ryx_free_library(void* handle) {
    return ryxsys_dlclose(handle);
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
    if (const char* path = ryxsys_getenv("RYX_LIBRARY_PATH")) {
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
    char own[4096];
    if (ryxsys_object_folder(reinterpret_cast<const void*>(&RYXLibraryManager::loadLibraryReally),
                             own, sizeof own)) {
        folders.emplace_back(own);
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
        ryxsys_dlclose(handle);
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
