# Cross-building the Linux program and its tests with Debian's cross
# compilers (g++-<triplet>) for the Debian architecture QUIB_ARCH: i386,
# arm64, armhf, s390x or ppc64el. The programs are linked statically
# (QUIB_STATIC), so that qemu-user runs them without the architecture's C
# library; CTest and the end-to-end tests start them through
# CMAKE_CROSSCOMPILING_EMULATOR, except where this machine runs them itself
# (i386 on amd64).
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUIB_ARCH)
# Each Debian architecture's GNU triplet, CMake's processor and qemu-user's
# name for it.
set(quib_arch_i386 i686-linux-gnu i686 i386)
set(quib_arch_arm64 aarch64-linux-gnu aarch64 aarch64)
set(quib_arch_armhf arm-linux-gnueabihf armv7l arm)
set(quib_arch_s390x s390x-linux-gnu s390x s390x)
set(quib_arch_ppc64el powerpc64le-linux-gnu ppc64le ppc64le)
if(NOT DEFINED quib_arch_${QUIB_ARCH})
  message(FATAL_ERROR "QUIB_ARCH is i386, arm64, armhf, s390x or ppc64el, "
                      "not '${QUIB_ARCH}'")
endif()
list(GET quib_arch_${QUIB_ARCH} 0 quib_triplet)
list(GET quib_arch_${QUIB_ARCH} 1 CMAKE_SYSTEM_PROCESSOR)
list(GET quib_arch_${QUIB_ARCH} 2 quib_qemu)

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${quib_triplet}-gcc)
set(CMAKE_CXX_COMPILER ${quib_triplet}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${quib_triplet})
set(CMAKE_FIND_ROOT_PATH /usr/${quib_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(QUIB_STATIC ON CACHE BOOL "Link the programs statically")

if(QUIB_ARCH STREQUAL "i386" AND CMAKE_HOST_SYSTEM_PROCESSOR MATCHES
                                 "^(x86_64|i.86)$")
  unset(CMAKE_CROSSCOMPILING_EMULATOR)
else()
  find_program(QUIB_QEMU qemu-${quib_qemu}-static REQUIRED)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUIB_QEMU})
endif()
