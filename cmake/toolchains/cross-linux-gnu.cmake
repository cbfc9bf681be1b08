# Shared part of the cross toolchain files: Debian's cross compilers for
# RYX_CROSS_TRIPLET, its libraries under /usr/<triplet>, programs run under
# qemu-user with that folder as their root for libraries.
#
# RYX_CROSS_PREFIXES (a list) names the folders where the dependencies that
# Debian does not ship for the target were installed (scripts/cross-test fills
# it from its cache).
set(CMAKE_SYSTEM_NAME Linux)
set(RYX_CROSS_SYSROOT /usr/${RYX_CROSS_TRIPLET})

set(CMAKE_C_COMPILER ${RYX_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${RYX_CROSS_TRIPLET}-g++)
# Each dependency folder's libraries and .pc files, for the settings below.
set(_guest_libs "")
set(_pc_dirs "")
set(_rpath_link "")
foreach(_prefix IN LISTS RYX_CROSS_PREFIXES)
  list(APPEND _guest_libs ${_prefix}/lib)
  list(APPEND _pc_dirs ${_prefix}/lib/pkgconfig)
  string(APPEND _rpath_link " -Wl,-rpath-link,${_prefix}/lib")
endforeach()
string(REPLACE ";" ":" _guest_libs "${_guest_libs}")
string(REPLACE ";" ":" _pc_dirs "${_pc_dirs}")

# Programs run under the emulator find the dependencies' shared libraries as a
# target system finds its own: our libraries and programs carry only $ORIGIN
# run paths, and libcrypto or libldap are not in the target's folders here.
set(CMAKE_CROSSCOMPILING_EMULATOR ${RYX_QEMU} -L ${RYX_CROSS_SYSROOT} -E LD_LIBRARY_PATH=${_guest_libs})

# try_compile projects see the same dependency folders.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES RYX_CROSS_PREFIXES)
set(CMAKE_FIND_ROOT_PATH ${RYX_CROSS_SYSROOT} ${RYX_CROSS_PREFIXES})
set(CMAKE_PREFIX_PATH ${RYX_CROSS_PREFIXES})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config reads only the target's .pc files, never the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} "${_pc_dirs}")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# The linker resolves what our shared libraries need (libcrypto for
# libryx8cms, say) in the dependency folders too: a program linked to one of
# ours alone does not name them itself. Set, not appended: CMake reads this
# file more than once.
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_rpath_link}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_rpath_link}")
