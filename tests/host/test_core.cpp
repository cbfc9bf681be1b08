// Strings, buffers, the trace, the library manager, and the reference time of
// the lab PKI generator.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/x509.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "expectthrows.h"
#include "labpki.h"
#include "ryxbuffer.h"
#include "ryxexception.h"
#include "ryxlibrary.h"
#include "ryxstring.h"
#include "ryxstrstream.h"
#include "ryxtrace.h"
#include "ryxuniquefd.h"
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
    std::vector<std::string> records;
    for (const RYXTraceRecord& r : t->captured()) {
        records.push_back(std::to_string(r.component) + " " + std::to_string(r.level) + " " +
                          r.file + ":" + std::to_string(r.line) + " " + r.text);
    }
    const std::string entry = std::to_string(RYX_TRACE_LEVEL_ENTRY) + " file.cpp:",
                      exit = std::to_string(RYX_TRACE_LEVEL_EXIT) + " :0 ";
    EXPECT_EQ(records, (std::vector<std::string>{"256 " + entry + "7 op", "256 " + exit + "op",
                                                 "1 1 f:1 y", "256 " + entry + "9 entry only"}));
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
    ASSERT_TRUE(ryx::UniqueFd(mkstemp(path)));
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
    void* (*older)(void*) = [](void*) -> void* { return nullptr; };
    void* (*newer)(void*) = [](void* args) { return args; };
    RYXLibraryManager::addLibEntry(name, older);
    RYXLibraryManager::addLibEntry(name, newer);
    EXPECT_EQ(RYXLibraryManager::callLibEntry(name, &marker), &marker);
    RYXLibraryManager::removeLibEntries(older);
    RYXLibraryManager::removeLibEntries(newer);
}

// A missing plug-in is named in the exception; a missing symbol leaves the
// address alone.
TEST(LibraryManagerTest, MissingLibrariesAndSymbolsFailCleanly) {
    EXPECT_THAT([] { RYXLibraryManager::loadPlugin(RYXString("nosuchlibrary")); },
                ::testing::ThrowsMessage<RYXException>(::testing::HasSubstr("nosuchlibrary")));
    void* h = nullptr;
    EXPECT_NE(ryx_load_library("/nonexistent/libx.so", &h), 0);
    EXPECT_STRNE(ryx_library_error(), "");
    ASSERT_EQ(ryx_load_library(RYX_TEST_PLUGIN_DIR "/libryxtestplugin.so", &h), 0);
    void* address = &h;
    EXPECT_NE(ryx_get_func_address(h, "no_such_symbol", &address), 0);
    EXPECT_EQ(address, &h);
    ryx_free_library(h);
}

// The lab PKI generator: every default time follows one reference time.
TEST(TestPKI, EveryTimeFollowsTheReferenceTime) {
    const std::time_t saved = labpki::referenceTime();
    const std::time_t fixed = 2000000000;  // 2033-05-18T03:33:20Z
    labpki::setReferenceTime(fixed);
    labpki::Authority ca = labpki::Authority::root("cn=Then");
    labpki::CertPtr leaf = labpki::certificateFromDER(ca.issue("cn=leaf", 5));
    labpki::CrlPtr crl = labpki::crlFromDER(ca.crl());
    labpki::setReferenceTime(saved);
    int days = 0, seconds = 0;
    const auto offset = [&](const ASN1_TIME* t) {
        ASN1_TIME_diff(&days, &seconds, nullptr, t);  // from now to t
        return (static_cast<long>(days) * 86400 + seconds) - (fixed - std::time(nullptr));
    };
    EXPECT_NEAR(offset(X509_get0_notBefore(leaf.get())), -3600, 5);
    EXPECT_NEAR(offset(X509_get0_notAfter(leaf.get())), 365L * 24 * 3600, 5);
    EXPECT_NEAR(offset(X509_CRL_get0_lastUpdate(crl.get())), 0, 5);
    EXPECT_NEAR(offset(X509_CRL_get0_nextUpdate(crl.get())), 7L * 24 * 3600, 5);
    EXPECT_EQ(labpki::referenceTime(), saved);
}
