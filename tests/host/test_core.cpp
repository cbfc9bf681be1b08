// Strings, buffers, exceptions, string streams, trace and the library manager.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "errorcodes.h"
#include "ryxbuffer.h"
#include "ryxdir.h"
#include "ryxexception.h"
#include "ryxlibrary.h"
#include "ryxmemory.h"
#include "ryxstring.h"
#include "ryxstrstream.h"
#include "ryxtrace.h"

TEST(RYXStringTest, EditsAndSearches) {
    RYXString s("ldap:///dc=Example,DC=com");
    EXPECT_EQ(s.find_ignorecase("DC="), 8u);
    EXPECT_EQ(s.find_ignorecase("dc=", 9), 19u);
    EXPECT_EQ(s.find_ignorecase("missing"), RYXString::npos);
    EXPECT_EQ(s.find_ignorecase("dc=", 100), RYXString::npos);
    s.insert(7, "host");
    EXPECT_STREQ(s.c_str(), "ldap://host/dc=Example,DC=com");
    s.erase(7, 4);
    EXPECT_STREQ(s.c_str(), "ldap:///dc=Example,DC=com");
    EXPECT_THROW(s.insert(s.length() + 1, "x"), RYXException);
    EXPECT_THROW(s.erase(s.length() + 1), RYXException);
    EXPECT_NO_THROW(s.erase(s.length()));
    RYXString n(nullptr);
    EXPECT_TRUE(n.empty());
    EXPECT_EQ(RYXString("a").compare("b") < 0, true);
    EXPECT_EQ(RYXString("ab").compare(RYXString("a")) > 0, true);
    RYXConstString c("x\ty");
    std::ostringstream os;
    c.display(os);
    EXPECT_EQ(os.str(), "x\\x09y");
}

TEST(RYXBufferTest, CopiesOwnBytesAndKeepHiddenNul) {
    const unsigned char bytes[3] = {'a', 'b', 'c'};
    RYXBuffer b(3, bytes);
    EXPECT_EQ(b.getLength(), 3u);
    EXPECT_EQ(b.getValue()[3], 0);  // readable as a C string
    RYXBuffer copy(b);
    EXPECT_NE(copy.getValue(), b.getValue());
    RYXBuffer moved(std::move(copy));
    EXPECT_EQ(copy.getLength(), 0u);
    EXPECT_STREQ(reinterpret_cast<const char*>(moved.getValue()), "abc");
    moved.cleanse();
    EXPECT_EQ(moved.getValue()[0], 0);
    EXPECT_EQ(RYXBuffer(5, nullptr).getLength(), 0u);
    RYXASNCBuffer view = b.get();
    EXPECT_EQ(view.getData(), b.getValue());
    EXPECT_EQ(view.getLength(), 3u);
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

TEST(StrStreamTest, FreezesItsText) {
    ryxstrstream::ostrstream os;
    os << "Error(" << 81 << ")";
    EXPECT_STREQ(os.str(), "Error(81)");
    os << " more";
    EXPECT_STREQ(os.str(), "Error(81)");
    EXPECT_EQ(os.pcount(), 9u);
    ryxstrstream::strstream ss;
    ss << "x" << 1;
    EXPECT_STREQ(ss.str(), "x1");
}

TEST(MemoryTest, DuplicatesAndReleases) {
    char* p = ryx_strdup("text", 0);
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(p, "text");
    ryx_free(p, 0);
    EXPECT_EQ(ryx_strdup(nullptr, 0), nullptr);
    ryx_free(nullptr, 0);
}

class TraceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        t = RYXTrace::s_defaultTracePtr;
        ASSERT_NE(t, nullptr);
        t->setOn(true);
        t->setComponentMask(~0u);
        t->setLevelMask(~0u);
        t->startCapture();
    }
    void TearDown() override {
        t->stopCapture();
        t->setOn(false);
        t->setComponentMask(~0u);
        t->setLevelMask(~0u);
    }
    RYXTrace* t = nullptr;
};

TEST_F(TraceTest, EntryAndExitRecordsPair) {
    { RYXTraceFunction f(0x100, "file.cpp", 7, "op"); }
    auto records = t->stopCapture();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].level, RYX_TRACE_LEVEL_ENTRY);
    EXPECT_EQ(records[0].file, "file.cpp");
    EXPECT_EQ(records[0].line, 7);
    EXPECT_EQ(records[0].text, "op");
    EXPECT_EQ(records[1].level, RYX_TRACE_LEVEL_EXIT);
    EXPECT_EQ(records[1].file, "");
    EXPECT_EQ(records[1].text, "op");
    EXPECT_EQ(records[1].component, 0x100u);
}

TEST_F(TraceTest, MasksFilterComponentsAndLevels) {
    t->setComponentMask(0x1);
    EXPECT_FALSE(t->write(0x100, "f", 1, 1, "x", 1));
    EXPECT_TRUE(t->write(0x1, "f", 1, 1, "y", 1));
    t->setComponentMask(~0u);
    t->setLevelMask(RYX_TRACE_LEVEL_EXIT);
    { RYXTraceFunction f(0x100, "file.cpp", 7, "op"); }  // no entry, so no exit either
    t->setLevelMask(RYX_TRACE_LEVEL_ENTRY);
    { RYXTraceFunction f(0x100, "file.cpp", 8, "op2"); }  // entry only
    auto records = t->stopCapture();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].text, "y");
    EXPECT_EQ(records[1].text, "op2");
    EXPECT_EQ(records[1].level, RYX_TRACE_LEVEL_ENTRY);
    t->setOn(false);
    EXPECT_FALSE(t->write(0x1, "f", 1, 1, "z", 1));
    EXPECT_FALSE(RYXTraceFunction::wouldTrace(0x100));
}

TEST_F(TraceTest, FileRecordsAreOneLineEach) {
    t->stopCapture();
    char path[] = "/tmp/ryxtraceXXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
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

TEST(LibraryManagerTest, PluginRegistersWhileLoaded) {
    setenv("RYX_LIBRARY_PATH", "/nonexistent:" RYX_TEST_PLUGIN_DIR, 1);
    RYXString name("ryxtestplugin");
    EXPECT_EQ(RYXLibraryManager::countLibEntries(name), 0u);
    for (int round = 0; round < 2; ++round) {
        void* h = RYXLibraryManager::loadPlugin(name);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(RYXLibraryManager::countLibEntries(name), 1u);
        int marker = 7;
        EXPECT_EQ(RYXLibraryManager::callLibEntry(name, &marker), &marker);
        RYXLibraryManager::unloadPlugin(h);
        EXPECT_EQ(RYXLibraryManager::countLibEntries(name), 0u);
    }
    try {
        RYXLibraryManager::callLibEntry(name, nullptr);
        FAIL() << "no entry registered";
    } catch (const RYXException& e) {
        EXPECT_EQ(e.getError(), RYX_ERR_LIBRARY);
    }
    unsetenv("RYX_LIBRARY_PATH");
}

TEST(LibraryManagerTest, MissingLibrariesAndSymbolsFailCleanly) {
    EXPECT_EQ(RYXLibraryManager::loadLibraryReally(RYXString("nosuchlibrary"), RYXString()),
              nullptr);
    EXPECT_NE(std::string(ryx_library_error()), "");
    try {
        RYXLibraryManager::loadPlugin(RYXString("nosuchlibrary"));
        FAIL() << "loaded a missing plug-in";
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
    RYXDIRConnectInfo* copy = info.clone();
    EXPECT_TRUE(copy->isKindOf(RYXDIRConnectInfo::LDAP::getClassName()));
    EXPECT_TRUE(copy->isKindOf(RYXString("RYXDIRConnectInfo")));
    auto* ldap = dynamic_cast<RYXDIRConnectInfo::LDAP*>(copy);
    ASSERT_NE(ldap, nullptr);
    EXPECT_STREQ(ldap->host.asCString(), "host");
    EXPECT_EQ(ldap->errorMode, 2);
    EXPECT_NE(ldap->password.getValue(), info.password.getValue());
    delete copy;
    RYXDIRConnectInfo::HTTP http("http://x");
    EXPECT_FALSE(http.isKindOf(RYXDIRConnectInfo::LDAP::getClassName()));
}
