// loaded-from: the file the plug-in was loaded from, as the plug-in tells it.
#include <cstdlib>

#include "commands.h"
#include "directory.h"
#include "ryxlibrary.h"
#include "status.h"

namespace ryxdir {

namespace {

int runLoadedFrom(Settings&, Output& out) {
    PluginHandle plugin;
    void* address = nullptr;
    if (ryx_get_func_address(plugin.get(), "ryxdrld_loaded_from", &address) != 0) {
        fail(EXIT_PLUGIN, "the plug-in does not export ryxdrld_loaded_from");
    }
    char* path = reinterpret_cast<char* (*)()>(address)();
    if (path == nullptr) {
        fail(EXIT_PLUGIN, "the plug-in cannot tell where it was loaded from");
    }
    const std::string text = path;
    std::free(path);
    if (out.json()) {
        out.document().member("path", text);
    } else {
        out.line(text);
    }
    return EXIT_FOUND;
}

}  // namespace

const Command kLoadedFromCommand = {
    {"loaded-from", nullptr, "the file the plug-in was loaded from", nullptr, false},
    "text json pem der",
    Format::Text,
    runLoadedFrom,
    nullptr};

}  // namespace ryxdir
