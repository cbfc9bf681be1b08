// One owning pointer for every C handle: ryx::UniquePtr<T> is a std::unique_ptr
// whose deleter is the release function registered for T with RYX_MAKE_DELETER.
// A type without a registered deleter does not compile.
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

template <typename T>
using UniquePtr = std::unique_ptr<T, Deleter<T>>;

}  // namespace ryx

// Registers function as the release function of type; use at global scope.
#define RYX_MAKE_DELETER(type, function)                            \
    namespace ryx {                                                 \
    template <>                                                     \
    struct Deleter<type> {                                          \
        void operator()(type* pointer) const { function(pointer); } \
    };                                                              \
    }

RYX_MAKE_DELETER(FILE, std::fclose)

#endif
