// Strings, buffers, exceptions, string streams, the trace, the library manager
// and connection information.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "errorcodes.h"
#include "expectthrows.h"
#include "ryxbuffer.h"
#include "ryxdir.h"
#include "ryxexception.h"
#include "ryxlibrary.h"
#include "ryxmemory.h"
#include "ryxstring.h"
#include "ryxstrstream.h"
#include "ryxtrace.h"
#include "tracecapture.h"

TEST(RYXStringTest, EditsAndSearches) {
    RYXString s("ldap:///dc=Example,DC=com");
    EXPECT_EQ(s.find_ignorecase("DC="), 8u);
    EXPECT_EQ(s.find_ignorecase("dc=", 9), 19u);
    EXPECT_EQ(s.find_ignorecase("COM"), 22u);  // at the very end
    EXPECT_EQ(s.find_ignorecase("missing"), RYXString::npos);
    EXPECT_EQ(s.find_ignorecase("dc=", 100), RYXString::npos);
    EXPECT_STREQ(s.insert(7, "host").c_str(), "ldap://host/dc=Example,DC=com");
    EXPECT_STREQ(s.erase(7, 4).c_str(), "ldap:///dc=Example,DC=com");
    EXPECT_THROW(s.insert(s.length() + 1, "x"), RYXException);
    EXPECT_THROW(s.erase(s.length() + 1), RYXException);
    EXPECT_NO_THROW(s.erase(s.length()));
    EXPECT_TRUE(RYXString(nullptr).empty());
    EXPECT_LT(RYXString("a").compare("b"), 0);
    EXPECT_GT(RYXString("ab").compare(RYXString("a")), 0);
    std::ostringstream os;
    RYXConstString("x\ty").display(os);
    EXPECT_EQ(os.str(), "x\\x09y");
}

TEST(RYXBufferTest, CopiesOwnBytesAndKeepAHiddenNul) {
    const unsigned char bytes[3] = {'a', 'b', 'c'};
    RYXBuffer b(3, bytes);
    EXPECT_EQ(b.getValue()[3], 0);  // readable as a C string
    RYXBuffer copy(b);
    EXPECT_NE(copy.getValue(), b.getValue());
    RYXBuffer moved(std::move(copy));
    EXPECT_EQ(copy.getLength(), 0u);
    EXPECT_STREQ(reinterpret_cast<const char*>(moved.getValue()), "abc");
    moved.cleanse();
    EXPECT_EQ(moved.getValue()[0], 0);
    EXPECT_EQ(RYXBuffer(5, nullptr).getLength(), 0u);
    EXPECT_EQ(b.get().getData(), b.getValue());
    EXPECT_EQ(b.get().getLength(), 3u);
}

TEST(RYXExceptionTest, CarriesPlaceCodeAndMessageAcrossCopies) {
    try {
        throw RYXDIRException("unit.cpp", 42, ryxcode::kSearchFailed, RYXString("failed"));
    } catch (const RYXException& e) {
        RYXException copy(e);
        EXPECT_STREQ(copy.getFile(), "unit.cpp");
        EXPECT_EQ(copy.getLine(), 42);
        EXPECT_EQ(copy.getError(), ryxcode::kSearchFailed);
        EXPECT_STREQ(copy.what(), "failed");
        EXPECT_NE(dynamic_cast<const RYXDIRException*>(&e), nullptr);
    }
}

TEST(StrStreamAndMemoryTest, FreezeTheirTextAndDuplicate) {
    ryxstrstream::ostrstream os;
    os << "Error(" << 81 << ")";
    EXPECT_STREQ(os.str(), "Error(81)");
    os << " more";
    EXPECT_STREQ(os.str(), "Error(81)");
    EXPECT_EQ(os.pcount(), 9u);
    char* p = ryx_strdup("text", 0);
    EXPECT_STREQ(p, "text");
    ryx_free(p, 0);
    EXPECT_EQ(ryx_strdup(nullptr, 0), nullptr);
}

TEST(TraceTest, RecordsPassTheMasksAndPairEntryWithExit) {
    RYXTrace* t = RYXTrace::s_defaultTracePtr;
    tracetest::TraceCapture capture;
    { RYXTraceFunction f(0x100, "file.cpp", 7, "op"); }
    t->setComponentMask(0x1);
    EXPECT_FALSE(t->write(0x100, "f", 1, 1, "x", 1));
    EXPECT_TRUE(t->write(0x1, "f", 1, 1, "y", 1));
    t->setComponentMask(~0u);
    t->setLevelMask(RYX_TRACE_LEVEL_EXIT);
    { RYXTraceFunction f(0x100, "file.cpp", 8, "no entry, so no exit either"); }
    t->setLevelMask(RYX_TRACE_LEVEL_ENTRY);
    { RYXTraceFunction f(0x100, "file.cpp", 9, "entry only"); }
    const std::vector<RYXTraceRecord> records = t->captured();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].level, RYX_TRACE_LEVEL_ENTRY);
    EXPECT_EQ(records[0].file, "file.cpp");
    EXPECT_EQ(records[0].line, 7);
    EXPECT_EQ(records[1].level, RYX_TRACE_LEVEL_EXIT);
    EXPECT_EQ(records[1].file, "");
    EXPECT_EQ(records[1].text, "op");
    EXPECT_EQ(records[1].component, 0x100u);
    EXPECT_EQ(records[2].text, "y");
    EXPECT_EQ(records[3].text, "entry only");
    t->setOn(false);
    EXPECT_FALSE(t->write(0x1, "f", 1, 1, "z", 1));
    EXPECT_FALSE(RYXTraceFunction::wouldTrace(0x100));
    // RYX_TRACE turns it on with "1" or "on" in any case.
    for (const char* value : {"1", "on", "ON", "yes", "0"}) {
        setenv("RYX_TRACE", value, 1);
        t->configureFromEnvironment();
        EXPECT_EQ(t->isOn(), value[0] != 'y' && value[0] != '0') << value;
    }
    unsetenv("RYX_TRACE");
}

TEST(TraceTest, FileRecordsAreOneLineEach) {
    RYXTrace* t = RYXTrace::s_defaultTracePtr;
    tracetest::TraceCapture on;
    t->stopCapture();  // records go to the file only when not captured
    char path[] = "/tmp/ryxtraceXXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    ASSERT_TRUE(t->setFile(path));
    ryxstrstream::ostrstream os;
    os << "composed " << 5;
    t->write(0x100, "src.cpp", 12, 1, os);
    t->write(0x100, nullptr, 0, RYX_TRACE_LEVEL_EXIT, "leave", 5);
    t->setFile(nullptr);
    std::ifstream in(path);
    std::string first, second, third;
    std::getline(in, first);
    std::getline(in, second);
    EXPECT_FALSE(std::getline(in, third));
    EXPECT_NE(first.find(" 00000100 00000001 src.cpp:12 composed 5"), std::string::npos) << first;
    EXPECT_NE(second.find(" 00000100 40000000 leave"), std::string::npos) << second;
    EXPECT_EQ(second.find("src.cpp"), std::string::npos);
    remove(path);
}

namespace {
void* older(void*) {
    return nullptr;
}
void* newer(void* args) {
    return args;
}
}  // namespace

TEST(LibraryManagerTest, PluginsRegisterWhileLoadedAndTheNewestEntryWins) {
    setenv("RYX_LIBRARY_PATH", "/nonexistent:" RYX_TEST_PLUGIN_DIR, 1);
    const RYXString name("ryxtestplugin");
    int marker = 7;
    for (int round = 0; round < 2; ++round) {
        void* h = RYXLibraryManager::loadPlugin(name);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(RYXLibraryManager::countLibEntries(name), 1u);
        EXPECT_EQ(RYXLibraryManager::callLibEntry(name, &marker), &marker);
        RYXLibraryManager::unloadPlugin(h);
        EXPECT_EQ(RYXLibraryManager::countLibEntries(name), 0u);
    }
    unsetenv("RYX_LIBRARY_PATH");
    EXPECT_TRUE(tracetest::throwsError<RYXException>(
        [&] { RYXLibraryManager::callLibEntry(name, nullptr); }, RYX_ERR_LIBRARY));
    RYXLibraryManager::addLibEntry(name, older);
    RYXLibraryManager::addLibEntry(name, newer);
    EXPECT_EQ(RYXLibraryManager::callLibEntry(name, &marker), &marker);
    RYXLibraryManager::removeLibEntries(older);
    RYXLibraryManager::removeLibEntries(newer);
}

TEST(LibraryManagerTest, MissingLibrariesAndSymbolsFailCleanly) {
    EXPECT_EQ(RYXLibraryManager::loadLibraryReally(RYXString("nosuchlibrary"), RYXString()),
              nullptr);
    EXPECT_STRNE(ryx_library_error(), "");
    try {
        RYXLibraryManager::loadPlugin(RYXString("nosuchlibrary"));
        ADD_FAILURE() << "loaded a missing plug-in";
    } catch (const RYXException& e) {
        EXPECT_NE(std::string(e.what()).find("nosuchlibrary"), std::string::npos);
    }
    void* h = nullptr;
    EXPECT_NE(ryx_load_library("/nonexistent/libx.so", &h), 0);
    EXPECT_EQ(h, nullptr);
    ASSERT_EQ(ryx_load_library(RYX_TEST_PLUGIN_DIR "/libryxtestplugin.so", &h), 0);
    void* address = reinterpret_cast<void*>(0x1);
    EXPECT_NE(ryx_get_func_address(h, "no_such_symbol", &address), 0);
    EXPECT_EQ(address, reinterpret_cast<void*>(0x1));  // left untouched
    ryx_free_library(h);
}

TEST(ConnectInfoTest, CloneAndKind) {
    const unsigned char pw[] = {'s', 'e', 'c'};
    RYXDIRConnectInfo::LDAP info("host", 389, "cn=x", RYXBuffer(3, pw), 1, 2, "", nullptr);
    std::unique_ptr<RYXDIRConnectInfo> copy(info.clone());
    EXPECT_TRUE(copy->isKindOf(RYXDIRConnectInfo::LDAP::getClassName()));
    EXPECT_TRUE(copy->isKindOf(RYXString("RYXDIRConnectInfo")));
    auto* ldap = dynamic_cast<RYXDIRConnectInfo::LDAP*>(copy.get());
    ASSERT_NE(ldap, nullptr);
    EXPECT_STREQ(ldap->host.asCString(), "host");
    EXPECT_EQ(ldap->errorMode, 2);
    EXPECT_NE(ldap->password.getValue(), info.password.getValue());
    EXPECT_FALSE(
        RYXDIRConnectInfo::HTTP("http://x").isKindOf(RYXDIRConnectInfo::LDAP::getClassName()));
}
