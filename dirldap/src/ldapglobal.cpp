// Load-time frame of the plug-in: the toolkit guard, the one LDAPGlobal object
// that registers the entry function with the library manager, the entry
// function itself and the identification data.
#include "ldapglobal.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "ldapdirmanager.h"
#include "ryxcmsglobal.h"
#include "ryxdir.h"
#include "ryxexception.h"
#include "ryxlibrary.h"
#include "ryxstring.h"
#include "ryxtrace.h"

namespace {

const char* const kSourceFile = "ldapglobal.cpp";

// Error code of a bad argument to the entry function.
const int kBadArgument = 571002;

}  // namespace

// Live LDAPGlobal objects; only the first registers and only the last
// deregisters. Touched only by static initialisation and unload.
static int s_globalCount = 0;

// The entry function registered under "ryx8drld": builds a new directory
// manager from LDAP connection information. Reached only through the
// registration.
static void* libraryFunction(void* args) {
    RYXTraceFunction trace(RYX_TRACE_COMP_DIRLDAP, kSourceFile, __LINE__, "libraryFunction");
    if (args == nullptr) {
        throw RYXDIRException(kSourceFile, __LINE__, kBadArgument, "args cannot be NULL");
    }
    const RYXDIRConnectInfo* info = static_cast<const RYXDIRConnectInfo*>(args);
    int isLDAP;
    {
        RYXString className = RYXDIRConnectInfo::LDAP::getClassName();
        isLDAP = info->isKindOf(className);
    }
    if (isLDAP == 0) {
        throw RYXDIRException(kSourceFile, __LINE__, kBadArgument, "args is invalid");
    }
    // A throwing constructor releases the allocation itself.
    return new LDAPDIRManager(*static_cast<const RYXDIRConnectInfo::LDAP*>(info));
}

static void init() {
    RYXTraceFunction trace(RYX_TRACE_COMP_DIRLDAP, kSourceFile, __LINE__, "init");
    {
        RYXString name("ryx8drld");
        RYXLibraryManager::addLibEntry(name, libraryFunction);
    }
    RYXTrace* t = RYXTrace::s_defaultTracePtr;
    char* path = ryxdrld_loaded_from();
    if (path != nullptr) {
        if (t != nullptr) {
            t->write(RYX_TRACE_COMP_LOAD, kSourceFile, __LINE__, RYX_TRACE_LEVEL_ERROR, path,
                     std::strlen(path));
        }
        std::free(path);
    } else if (t != nullptr) {
        static const char kUnknown[] = "Could not determine where DirLdap was loaded from";
        t->write(RYX_TRACE_COMP_LOAD, kSourceFile, __LINE__, RYX_TRACE_LEVEL_ERROR, kUnknown,
                 sizeof kUnknown - 1);
    }
}

static void fini() {
    RYXTraceFunction trace(RYX_TRACE_COMP_DIRLDAP, kSourceFile, __LINE__, "fini");
    RYXLibraryManager::removeLibEntries(libraryFunction);
}

LDAPGlobal::LDAPGlobal() {
    RYXTraceFunction trace(RYX_TRACE_COMP_DIRLDAP, kSourceFile, __LINE__, "LDAPGlobal::ctor");
    ++s_globalCount;
    if (s_globalCount == 1) {
        init();
    }
}

LDAPGlobal::~LDAPGlobal() {
    RYXTraceFunction trace(RYX_TRACE_COMP_DIRLDAP, kSourceFile, __LINE__, "LDAPGlobal::dtor");
    --s_globalCount;
    if (s_globalCount == 0) {
        fini();
    }
}

// The toolkit's guard first, so that it is built before and destroyed after the
// registration object.
static RYXCMSGlobal s_cmsGlobal;
static LDAPGlobal s_ldapGlobal;

// Identification data. Every value of the what-string block starts 18 columns
// after the "@(#)" marker; continuation lines are indented by 22 spaces.
extern "C" {

const char ryxdrld_Copyright[] =
    "ryx8 toolkit - DirLdap, the LDAP directory plug-in\n"
    "Copyright (c) 2024 The ryx8 toolkit developers.\n"
    "All rights reserved.\n"
    "Use, copying and distribution are subject to the terms of the toolkit's licence.\n";

const char ryxdrld_SCCSInfo[] =
    "@(#)CompanyName:      ryx8 toolkit developers\n"
    "@(#)LegalTrademarks:  ryx8 is a name of the ryx8 toolkit project; all other\n"
    "                      names belong to their owners\n"
    "@(#)FileDescription:  DirLdap - LDAP directory manager plug-in of the ryx8\n"
    "                      certificate-management toolkit\n"
    "@(#)FileVersion:      8.0.1.0\n"
    "@(#)InternalName:     ryxdrld\n"
    "@(#)LegalCopyright:   Copyright (c) 2024 The ryx8 toolkit developers.\n"
    "                      All rights reserved.\n"
    "@(#)OriginalFilename: libryx8drld.so\n"
    "@(#)ProductName:      ryx8 certificate-management toolkit\n"
    "@(#)ProductVersion:   8.0.1.0\n"
    "@(#)ProductInfo:      24/12/06.03:00:00.24/12/06.03:00:00\n"
    "@(#)SourceControl:    dirldap main line, build 1\n";

}  // extern "C"
