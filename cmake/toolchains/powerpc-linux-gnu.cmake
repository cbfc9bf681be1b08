# 32-bit big-endian PowerPC Linux (the shipped target). The project adds
# 64-bit time_t and file offsets for every 32-bit target itself.
set(CMAKE_SYSTEM_PROCESSOR powerpc)
set(RYX_CROSS_TRIPLET powerpc-linux-gnu)
set(RYX_QEMU qemu-ppc)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux-gnu.cmake)
