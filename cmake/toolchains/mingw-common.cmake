# The part of the mingw-w64 toolchain files that both flavours share: the
# compilers and tools of SONAVEL_MINGW_TRIPLET (posix thread model) and a find
# root that keeps the build host's libraries out.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${SONAVEL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SONAVEL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_ASM_COMPILER ${SONAVEL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_RC_COMPILER ${SONAVEL_MINGW_TRIPLET}-windres)
set(CMAKE_OBJDUMP ${SONAVEL_MINGW_TRIPLET}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${SONAVEL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
