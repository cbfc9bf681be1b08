// Loading and unloading the plug-in: registration of its entry function, the
// load-location trace, the factory's argument checks, ryxdrld_loaded_from and the
// identification data.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "errorcodes.h"
#include "ryxdir.h"
#include "ryxexception.h"
#include "ryxlibrary.h"
#include "ryxtrace.h"
#include "tracecapture.h"

namespace {

namespace fs = std::filesystem;

const char kEntryName[] = "ryx8drld";

std::string canonical(const std::string& path) {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) == nullptr) {
        return std::string();
    }
    return resolved;
}

bool pluginLoaded() {
    void* h = dlopen(RYX_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD);
    if (h == nullptr) {
        return false;
    }
    dlclose(h);
    return true;
}

size_t registrations() {
    return RYXLibraryManager::countLibEntries(RYXString(kEntryName));
}

using tracetest::Record;
using tracetest::TraceCapture;

// "E:name" for entry records, "X:name" for exit records, "M<component>:text" for
// messages at level 1.
std::vector<std::string> summary(const std::vector<Record>& records) {
    std::vector<std::string> out;
    for (const Record& r : records) {
        if (r.level == RYX_TRACE_LEVEL_ENTRY) {
            out.push_back("E:" + r.text);
        } else if (r.level == RYX_TRACE_LEVEL_EXIT) {
            out.push_back("X:" + r.text);
        } else if (r.level == RYX_TRACE_LEVEL_ERROR) {
            out.push_back("M" + std::to_string(r.component) + ":" + r.text);
        }
    }
    return out;
}

// A folder of its own, removed with everything in it.
class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/ryxabiXXXXXX";
        char* made = mkdtemp(pattern);
        if (made == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        m_path = made;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    const std::string& path() const { return m_path; }

  private:
    std::string m_path;
};

struct DlClose {
    void operator()(void* h) const { dlclose(h); }
};
typedef std::unique_ptr<void, DlClose> Handle;

class PluginLoad : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(pluginLoaded()) << "the plug-in is already loaded";
        ASSERT_EQ(registrations(), 0u);
    }
    void TearDown() override {
        EXPECT_FALSE(pluginLoaded()) << "a test left the plug-in loaded";
        EXPECT_EQ(registrations(), 0u);
    }
};

TEST_F(PluginLoad, RegistersOnceAtLoadAndDeregistersAtUnload) {
    const std::string where = canonical(RYX_PLUGIN_PATH);
    ASSERT_FALSE(where.empty());
    for (int round = 0; round < 2; ++round) {
        std::vector<std::string> loading;
        void* handle = nullptr;
        {
            TraceCapture capture;
            handle = RYXLibraryManager::loadPlugin(RYXString(kEntryName));
            loading = summary(capture.all());
        }
        ASSERT_NE(handle, nullptr);
        EXPECT_EQ(registrations(), 1u);
        EXPECT_NE(RYXLibraryManager::findLibEntry(RYXString(kEntryName)), nullptr);
        std::vector<std::string> expected{"E:LDAPGlobal::ctor", "E:init",
                                          "M" + std::to_string(RYX_TRACE_COMP_LOAD) + ":" + where,
                                          "X:init", "X:LDAPGlobal::ctor"};
        EXPECT_EQ(loading, expected);

        std::vector<std::string> unloading;
        {
            TraceCapture capture;
            RYXLibraryManager::unloadPlugin(handle);
            unloading = summary(capture.all());
        }
        EXPECT_EQ(registrations(), 0u);
        EXPECT_FALSE(pluginLoaded());
        std::vector<std::string> expectedUnload{"E:LDAPGlobal::dtor", "E:fini", "X:fini",
                                                "X:LDAPGlobal::dtor"};
        EXPECT_EQ(unloading, expectedUnload);
    }
}

// The factory as the host reaches it, through the registration.
class Factory : public PluginLoad {
  protected:
    void SetUp() override {
        PluginLoad::SetUp();
        m_handle = RYXLibraryManager::loadPlugin(RYXString(kEntryName));
        ASSERT_NE(m_handle, nullptr);
    }
    void TearDown() override {
        RYXLibraryManager::unloadPlugin(m_handle);
        PluginLoad::TearDown();
    }
    void* call(void* args) { return RYXLibraryManager::callLibEntry(RYXString(kEntryName), args); }
    void* m_handle = nullptr;
};

TEST_F(Factory, RefusesNullAndOtherKindsOfConnectionInformation) {
    try {
        call(nullptr);
        FAIL() << "no exception";
    } catch (const RYXDIRException& e) {
        EXPECT_EQ(e.getError(), ryxcode::kBadArgument);
        EXPECT_STREQ(e.what(), "args cannot be NULL");
    }
    RYXDIRConnectInfo::HTTP http(RYXConstString("http://example.com/"));
    try {
        call(&http);
        FAIL() << "no exception";
    } catch (const RYXDIRException& e) {
        EXPECT_EQ(e.getError(), ryxcode::kBadArgument);
        EXPECT_STREQ(e.what(), "args is invalid");
    }
}

RYXDIRConnectInfo::LDAP ldapInfo(const char* driverPath) {
    return RYXDIRConnectInfo::LDAP(RYXConstString("localhost"), 389, RYXConstString(""),
                                   RYXBuffer(0, nullptr), 1, 0, RYXConstString(driverPath),
                                   nullptr);
}

TEST_F(Factory, BuildsANewManagerOnEveryCall) {
    RYXDIRConnectInfo::LDAP info = ldapInfo(FAKELDAP_FULL);
    std::unique_ptr<RYXDIRManager> first(static_cast<RYXDIRManager*>(call(&info)));
    std::unique_ptr<RYXDIRManager> second(static_cast<RYXDIRManager*>(call(&info)));
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first.get(), second.get());
    EXPECT_EQ(first->getClassName().compare("LDAPDIRManager"), 0);
    EXPECT_TRUE(first->isKindOf(RYXString("LDAPDIRManager")));
    EXPECT_TRUE(first->isKindOf(RYXString("RYXDIRManager")));
    EXPECT_FALSE(first->isKindOf(RYXString("HTTPDIRManager")));
}

TEST_F(Factory, PassesOnTheClientsFailureToLoadItsLibrary) {
    RYXDIRConnectInfo::LDAP info = ldapInfo("/nonexistent/libnoldap.so");
    try {
        call(&info);
        FAIL() << "no exception";
    } catch (const RYXDIRException& e) {
        EXPECT_EQ(e.getError(), ryxcode::kLibraryUnusable);
    }
}

typedef char* (*LoadedFrom)();

TEST_F(PluginLoad, LoadedFromGivesTheTargetOfASymbolicLink) {
    TempDir dir;
    const std::string link = dir.path() + "/libryx8drld.so";
    ASSERT_EQ(symlink(RYX_PLUGIN_PATH, link.c_str()), 0);
    Handle h(dlopen(link.c_str(), RTLD_NOW | RTLD_LOCAL));
    ASSERT_NE(h, nullptr) << dlerror();
    EXPECT_EQ(registrations(), 1u);
    LoadedFrom loadedFrom = reinterpret_cast<LoadedFrom>(dlsym(h.get(), "ryxdrld_loaded_from"));
    ASSERT_NE(loadedFrom, nullptr);
    char* path = loadedFrom();
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(std::string(path), canonical(RYX_PLUGIN_PATH));
    free(path);
}

// Loaded through a descriptor of a file that no longer has a name, the library
// cannot tell where it came from: loading goes on and the trace says so.
TEST_F(PluginLoad, LoadsWhenItsLocationCannotBeResolved) {
    TempDir dir;
    const std::string copy = dir.path() + "/libryx8drld.so";
    fs::copy_file(RYX_PLUGIN_PATH, copy);
    int fd = open(copy.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(unlink(copy.c_str()), 0);
    const std::string byDescriptor = "/proc/self/fd/" + std::to_string(fd);
    std::vector<std::string> loading;
    Handle h;
    {
        TraceCapture capture;
        h.reset(dlopen(byDescriptor.c_str(), RTLD_NOW | RTLD_LOCAL));
        loading = summary(capture.all());
    }
    close(fd);
    ASSERT_NE(h, nullptr) << dlerror();
    EXPECT_EQ(registrations(), 1u);
    std::vector<std::string> expected{"E:LDAPGlobal::ctor", "E:init",
                                      "M" + std::to_string(RYX_TRACE_COMP_LOAD) +
                                          ":Could not determine where DirLdap was loaded from",
                                      "X:init", "X:LDAPGlobal::ctor"};
    EXPECT_EQ(loading, expected);
    LoadedFrom loadedFrom = reinterpret_cast<LoadedFrom>(dlsym(h.get(), "ryxdrld_loaded_from"));
    ASSERT_NE(loadedFrom, nullptr);
    EXPECT_EQ(loadedFrom(), nullptr);
}

// One line of the what-string block: key and value, or a continuation.
struct WhatLine {
    bool marker;
    std::string key;
    std::string value;
};

TEST_F(PluginLoad, IdentificationDataIsLaidOutAsWhatStrings) {
    Handle h(dlopen(RYX_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL));
    ASSERT_NE(h, nullptr) << dlerror();
    const char* info = static_cast<const char*>(dlsym(h.get(), "ryxdrld_SCCSInfo"));
    const char* copyright = static_cast<const char*>(dlsym(h.get(), "ryxdrld_Copyright"));
    ASSERT_NE(info, nullptr);
    ASSERT_NE(copyright, nullptr);

    std::string text(info);
    ASSERT_FALSE(text.empty());
    ASSERT_EQ(text.back(), '\n');
    std::vector<std::pair<std::string, std::string>> values;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.compare(0, 4, "@(#)") == 0) {
            size_t colon = line.find(':');
            ASSERT_NE(colon, std::string::npos) << line;
            ASSERT_GT(line.size(), 22u) << line;
            EXPECT_LT(colon, 21u) << line;
            EXPECT_EQ(line.find_first_not_of(' ', colon + 1), 22u) << "value column: " << line;
            values.emplace_back(line.substr(4, colon - 4), line.substr(22));
        } else {
            ASSERT_FALSE(values.empty()) << "continuation before any key: " << line;
            EXPECT_EQ(line.find_first_not_of(' '), 22u) << "continuation indent: " << line;
            EXPECT_EQ(line.find("@(#)"), std::string::npos) << line;
            values.back().second += " " + line.substr(22);
        }
    }
    const std::vector<std::string> keys{
        "CompanyName",    "LegalTrademarks",  "FileDescription", "FileVersion",    "InternalName",
        "LegalCopyright", "OriginalFilename", "ProductName",     "ProductVersion", "ProductInfo"};
    ASSERT_EQ(values.size(), keys.size() + 1);
    for (size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(values[i].first, keys[i]);
        EXPECT_FALSE(values[i].second.empty()) << keys[i];
    }
    EXPECT_FALSE(values.back().first.empty());
    const std::regex version(R"(\d+\.\d+\.\d+\.\d+)");
    EXPECT_TRUE(std::regex_match(values[3].second, version)) << values[3].second;
    EXPECT_TRUE(std::regex_match(values[8].second, version)) << values[8].second;
    EXPECT_EQ(values[4].second, "ryxdrld");
    EXPECT_EQ(values[6].second, "libryx8drld.so");
    const std::regex stamps(R"(\d\d/\d\d/\d\d\.\d\d:\d\d:\d\d\.\d\d/\d\d/\d\d\.\d\d:\d\d:\d\d)");
    EXPECT_TRUE(std::regex_match(values[9].second, stamps)) << values[9].second;

    std::string notice(copyright);
    size_t lines = 0;
    for (char c : notice) {
        lines += c == '\n';
    }
    EXPECT_GE(lines, 2u) << notice;
}

}  // namespace
