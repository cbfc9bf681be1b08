// A plug-in for the library manager tests: registers its entry function under
// "ryxtestplugin" while it is loaded.
#include "ryxlibrary.h"

namespace {
void* entry(void* args) {
    return args;
}

struct Registration {
    Registration() { RYXLibraryManager::addLibEntry(RYXString("ryxtestplugin"), entry); }
    ~Registration() { RYXLibraryManager::removeLibEntries(entry); }
} g_registration;
}  // namespace
