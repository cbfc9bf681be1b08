# 64-bit big-endian s390x Linux.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(RYX_CROSS_TRIPLET s390x-linux-gnu)
set(RYX_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux-gnu.cmake)
