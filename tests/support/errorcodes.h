// The toolkit's error codes as the tests name them: what the plug-in throws.
#ifndef ERRORCODES_H
#define ERRORCODES_H

namespace ryxcode {
constexpr int kBadArgument = 571002;      // the factory's argument is null or not LDAP
constexpr int kLibraryUnusable = 576001;  // the LDAP library cannot be loaded or lacks a function
constexpr int kNoConnection = 576002;     // no connection: open, bind or search without a bind
constexpr int kSearchFailed = 576004;     // a search failed, or URL search is not supported
constexpr int kBadCredentials = 576009;   // the bind was refused with 32 or 49
}  // namespace ryxcode

#endif
