// One owning pointer for every C handle: ryx::UniquePtr<T> is a std::unique_ptr
// whose deleter is the release function registered for T with RYX_MAKE_DELETER.
// A type without a registered deleter does not compile.
//
// A type that two C APIs release differently (an LDAP handle of OpenLDAP and one
// of the toolkit LDAP library) gets a named deleter as well, given as the
// second argument: RYX_MAKE_NAMED_DELETER(RyxUnbind, LDAP, ryx_ldap_unbind)
// and ryx::UniquePtr<LDAP, ryx::RyxUnbind>.
//
//   RYX_MAKE_DELETER(FILE, fclose)
//   ryx::UniquePtr<FILE> file(fopen(path, "r"));
//
// Header only, with no dependency beyond the C++ library: the registrations for
// OpenSSL's types are in ryxopensslptr.h.
#ifndef RYXUNIQUEPTR_H
#define RYXUNIQUEPTR_H

#include <cstdio>
#include <memory>

namespace ryx {

template <typename T>
struct Deleter;  // specialised per type by RYX_MAKE_DELETER

template <typename T, typename D = Deleter<T>>
using UniquePtr = std::unique_ptr<T, D>;

}  // namespace ryx

// Registers function as the release function of type; use at global scope.
#define RYX_MAKE_DELETER(type, function)                            \
    namespace ryx {                                                 \
    template <>                                                     \
    struct Deleter<type> {                                          \
        void operator()(type* pointer) const { function(pointer); } \
    };                                                              \
    }

// Defines the deleter ryx::name that releases a type with function; use at
// global scope.
#define RYX_MAKE_NAMED_DELETER(name, type, function)                \
    namespace ryx {                                                 \
    struct name {                                                   \
        void operator()(type* pointer) const { function(pointer); } \
    };                                                              \
    }

RYX_MAKE_DELETER(FILE, std::fclose)

#endif
