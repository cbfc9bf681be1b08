// Loading and unloading the plug-in: registration of its entry function, the
// load-location trace and ryxdrld_loaded_from, the factory, and the
// identification data.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <cstdlib>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "errorcodes.h"
#include "expectthrows.h"
#include "runprogram.h"
#include "ryxdir.h"
#include "ryxexception.h"
#include "ryxlibrary.h"
#include "ryxtrace.h"
#include "ryxuniquefd.h"
#include "ryxuniqueptr.h"
#include "tracecapture.h"

RYX_MAKE_NAMED_DELETER(DlClose, void, dlclose)
RYX_MAKE_NAMED_DELETER(MallocFree, char, std::free)

namespace {

namespace fs = std::filesystem;
using tracetest::Record;
using tracetest::throwsError;
using tracetest::TraceCapture;

const RYXString kEntryName("ryx8drld");

// "E:name" for entry records and "M<component>:text" for messages: what loading
// and unloading must write (exit records mirror the entries).
std::vector<std::string> summary(const TraceCapture& capture) {
    std::vector<std::string> out;
    for (const Record& r : capture.all()) {
        if (r.level == RYX_TRACE_LEVEL_ENTRY) {
            out.push_back("E:" + r.text);
        } else if (r.level == RYX_TRACE_LEVEL_ERROR) {
            out.push_back("M" + std::to_string(r.component) + ":" + r.text);
        }
    }
    return out;
}

// A folder of its own, removed with everything in it.
struct TempDir {
    std::string path = [] {
        char pattern[] = "/tmp/ryxabiXXXXXX";
        return std::string(mkdtemp(pattern) != nullptr ? pattern : "");
    }();
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

class PluginLoad : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(RYXLibraryManager::countLibEntries(kEntryName), 0u); }
    void TearDown() override {
        ryx::UniquePtr<void, ryx::DlClose> h(dlopen(RYX_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD));
        EXPECT_EQ(h, nullptr) << "a test left the plug-in loaded";
        EXPECT_EQ(RYXLibraryManager::countLibEntries(kEntryName), 0u);
    }
};

// Loaded through the library manager (twice), behind a symbolic link and
// through a descriptor of a file that no longer has a name: the entry function
// is registered once while loaded, and the plug-in names the file it was loaded
// from or, when it cannot tell, loads all the same and says so.
TEST_F(PluginLoad, RegistersWhileLoadedAndKnowsWhereFrom) {
    TempDir dir;
    const std::string link = dir.path + "/link.so", copy = dir.path + "/copy.so";
    ASSERT_EQ(symlink(RYX_PLUGIN_PATH, link.c_str()), 0);
    fs::copy_file(RYX_PLUGIN_PATH, copy);
    const ryx::UniqueFd owner(open(copy.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_GE(owner.get(), 0);
    ASSERT_EQ(unlink(copy.c_str()), 0);
    const std::string where = fs::canonical(RYX_PLUGIN_PATH).string();
    const std::string load = "M" + std::to_string(RYX_TRACE_COMP_LOAD) + ":";
    // The path to open (none: through the library manager) and where from (none: unknown).
    const std::pair<std::string, std::string> cases[] = {
        {"", where},
        {"", where},
        {link, where},
        {"/proc/self/fd/" + std::to_string(owner.get()), ""}};
    for (const auto& [path, from] : cases) {
        SCOPED_TRACE(path);
        void* handle = nullptr;
        {
            TraceCapture capture;
            handle = path.empty() ? RYXLibraryManager::loadPlugin(kEntryName)
                                  : dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
            EXPECT_EQ(summary(capture),
                      (std::vector<std::string>{
                          "E:LDAPGlobal::ctor", "E:init",
                          load + (from.empty() ? "Could not determine where DirLdap was loaded from"
                                               : from)}));
        }
        ASSERT_NE(handle, nullptr) << dlerror();
        EXPECT_EQ(RYXLibraryManager::countLibEntries(kEntryName), 1u);
        EXPECT_NE(RYXLibraryManager::findLibEntry(kEntryName), nullptr);
        auto loadedFrom = reinterpret_cast<char* (*)()>(dlsym(handle, "ryxdrld_loaded_from"));
        EXPECT_NE(loadedFrom, nullptr);
        const ryx::UniquePtr<char, ryx::MallocFree> loaded(loadedFrom ? loadedFrom() : nullptr);
        EXPECT_EQ(loaded ? std::string(loaded.get()) : "", from);
        TraceCapture capture;
        RYXLibraryManager::unloadPlugin(handle);
        EXPECT_EQ(summary(capture), (std::vector<std::string>{"E:LDAPGlobal::dtor", "E:fini"}));
    }
}

// The factory as the host reaches it, through the registration.
TEST_F(PluginLoad, FactoryRefusesBadArgumentsAndBuildsANewManagerOnEveryCall) {
    void* handle = RYXLibraryManager::loadPlugin(kEntryName);
    const auto call = [](void* args) { return RYXLibraryManager::callLibEntry(kEntryName, args); };
    EXPECT_TRUE(throwsError<RYXDIRException>([&] { call(nullptr); }, ryxcode::kBadArgument,
                                             "args cannot be NULL"));
    RYXDIRConnectInfo::HTTP http(RYXConstString("http://example.com/"));
    EXPECT_TRUE(throwsError<RYXDIRException>([&] { call(&http); }, ryxcode::kBadArgument,
                                             "args is invalid"));
    const auto ldap = [](const char* driverPath) {
        return RYXDIRConnectInfo::LDAP("localhost", 389, "", RYXBuffer(0, nullptr), 1, 0,
                                       driverPath, nullptr);
    };
    RYXDIRConnectInfo::LDAP missing = ldap("/nonexistent/libnoldap.so");
    EXPECT_TRUE(throwsError<RYXDIRException>([&] { call(&missing); }, ryxcode::kLibraryUnusable));
    {
        RYXDIRConnectInfo::LDAP info = ldap(FAKELDAP_FULL);
        std::unique_ptr<RYXDIRManager> first(static_cast<RYXDIRManager*>(call(&info)));
        std::unique_ptr<RYXDIRManager> second(static_cast<RYXDIRManager*>(call(&info)));
        ASSERT_TRUE(first && second);
        EXPECT_NE(first.get(), second.get());
        EXPECT_EQ(first->getClassName().compare("LDAPDIRManager"), 0);
        EXPECT_TRUE(first->isKindOf(RYXString("LDAPDIRManager")));
        EXPECT_TRUE(first->isKindOf(RYXString("RYXDIRManager")));
        EXPECT_FALSE(first->isKindOf(RYXString("HTTPDIRManager")));
    }
    RYXLibraryManager::unloadPlugin(handle);
}

// "@(#)Key:" with the value from column 22, longer values continued on lines
// indented to that column (what-strings.tsv); then a copyright notice of at
// least two lines.
TEST_F(PluginLoad, IdentificationDataIsLaidOutAsWhatStrings) {
    ryx::UniquePtr<void, ryx::DlClose> h(dlopen(RYX_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL));
    ASSERT_NE(h, nullptr) << dlerror();
    const char* info = static_cast<const char*>(dlsym(h.get(), "ryxdrld_SCCSInfo"));
    const char* copyright = static_cast<const char*>(dlsym(h.get(), "ryxdrld_Copyright"));
    ASSERT_TRUE(info != nullptr && copyright != nullptr);
    ASSERT_EQ(std::string(info).back(), '\n');
    std::vector<std::string> lines;  // "Key: value", continuation lines joined with a space
    std::istringstream in(info);
    std::smatch m;
    for (std::string line; std::getline(in, line);) {
        if (std::regex_match(line, m, std::regex(R"(@\(#\)(\w+): +(\S.*))")) &&
            m.position(2) == 22) {
            lines.push_back(m[1].str() + ": " + m[2].str());
        } else if (std::regex_match(line, m, std::regex(R"( {22}(\S.*))")) && !lines.empty()) {
            lines.back() += " " + m[1].str();
        } else {
            ADD_FAILURE() << "not a what-string line: \"" << line << "\"";
        }
    }
    const auto rows = spawntest::readCases(RYX_ABI_DIR "/what-strings.tsv");
    ASSERT_EQ(lines.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_TRUE(std::regex_match(lines[i], std::regex(rows[i][0] + ": " + rows[i][1])))
            << lines[i];
    }
    EXPECT_GE(std::count(copyright, copyright + std::strlen(copyright), '\n'), 2) << copyright;
}

}  // namespace
