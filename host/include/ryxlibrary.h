// Loading of shared libraries and the library manager through which plug-ins
// register their entry functions.
#ifndef RYXLIBRARY_H
#define RYXLIBRARY_H

#include <cstddef>

#include "ryxexport.h"
#include "ryxstring.h"

extern "C" {
// Loads the library at name (a path, or a file name for the loader's search path).
// Returns 0 and stores the handle on success, non-zero otherwise.
RYX_EXPORT int ryx_load_library(const char* name, void** handle);
// Looks name up in the library. Returns 0 and stores the address when found;
// otherwise returns non-zero and leaves *address unchanged.
RYX_EXPORT int ryx_get_func_address(void* handle, const char* name, void** address);
// Releases a handle from ryx_load_library or RYXLibraryManager::loadLibraryReally.
RYX_EXPORT int ryx_free_library(void* handle);
// Text of the last loading failure of the calling thread ("" when none).
RYX_EXPORT const char* ryx_library_error(void);
}

// The type of a registered entry function.
typedef void* (*RYXLibEntryFunction)(void*);

// Process-wide registry of entry functions and the toolkit's way to find its
// libraries. The search-path variable is RYX_LIBRARY_PATH (folders separated by
// ':').
class RYX_EXPORT RYXLibraryManager {
  public:
    // Loads lib<name>.so, looking in this order: the folder `directory` when not
    // empty, the folders of RYX_LIBRARY_PATH, the folder of the host library
    // itself, then the loader's search path. A name holding a '/' is loaded as it
    // is. Returns the handle (release with ryx_free_library) or null.
    static void* loadLibraryReally(const RYXString& name, const RYXString& directory);

    // Registers an entry function under a name.
    static void addLibEntry(const RYXString& name, RYXLibEntryFunction entry);
    // Removes every registration of that function.
    static void removeLibEntries(RYXLibEntryFunction entry);
    // The entry function registered last under name, or null.
    static RYXLibEntryFunction findLibEntry(const RYXString& name);
    // How many registrations there are under name.
    static size_t countLibEntries(const RYXString& name);

    // Loads the plug-in lib<name>.so with loadLibraryReally; its load-time code
    // registers its entry function. Throws RYXException (RYX_ERR_LIBRARY) with the
    // loader's text when it cannot be loaded. Release with unloadPlugin.
    static void* loadPlugin(const RYXString& name);
    static void unloadPlugin(void* handle);
    // Calls the entry function registered under name with args and returns its
    // result; throws RYXException (RYX_ERR_LIBRARY) when none is registered.
    // Exceptions of the entry function pass on unchanged.
    static void* callLibEntry(const RYXString& name, void* args);
};

#endif
