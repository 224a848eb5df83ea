# Cross-building the Linux program and its tests with Debian's cross
# compilers (g++-<triplet>) for the Debian architecture QUIB_ARCH: i386,
# arm64, armhf, s390x or ppc64el. The programs are linked statically
# (QUIB_STATIC), so that qemu-user runs them without the architecture's C
# library; CTest and the end-to-end tests start them through
# CMAKE_CROSSCOMPILING_EMULATOR, except where this machine runs them itself
# (i386 on most amd64 kernels).
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUIB_ARCH)
# Each Debian architecture's GNU triplet, CMake's processor, qemu-user's
# name for it and the processors whose Linux may run its programs itself.
set(quib_arch_i386 i686-linux-gnu i686 i386 "x86_64|i.86")
set(quib_arch_arm64 aarch64-linux-gnu aarch64 aarch64 "aarch64")
set(quib_arch_armhf arm-linux-gnueabihf armv7l arm "aarch64|armv[78]l")
set(quib_arch_s390x s390x-linux-gnu s390x s390x "s390x")
set(quib_arch_ppc64el powerpc64le-linux-gnu ppc64le ppc64le "ppc64le")
if(NOT DEFINED quib_arch_${QUIB_ARCH})
  message(FATAL_ERROR "QUIB_ARCH is i386, arm64, armhf, s390x or ppc64el, "
                      "not '${QUIB_ARCH}'")
endif()
list(GET quib_arch_${QUIB_ARCH} 0 quib_triplet)
list(GET quib_arch_${QUIB_ARCH} 1 CMAKE_SYSTEM_PROCESSOR)
list(GET quib_arch_${QUIB_ARCH} 2 quib_qemu)
list(GET quib_arch_${QUIB_ARCH} 3 quib_hosts)

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

# Whether this machine runs the programs itself: only a kernel for a
# processor of the family, and not every one of them (amd64 kernels without
# their 32-bit layer run no i386 program), so a static empty program is
# tried once; a program of any other architecture is never tried, since
# binfmt_misc would hand it to qemu-user unseen.
get_property(quib_in_try_compile GLOBAL PROPERTY IN_TRY_COMPILE)
if(NOT DEFINED QUIB_RUNS_HERE AND NOT quib_in_try_compile)
  set(quib_ran 1)
  if(CMAKE_HOST_SYSTEM_PROCESSOR MATCHES "^(${quib_hosts})$")
    set(quib_probe ${CMAKE_BINARY_DIR}/CMakeFiles/run-probe)
    file(WRITE ${quib_probe}.c "int main(void) { return 0; }\n")
    execute_process(COMMAND ${CMAKE_C_COMPILER} -static ${quib_probe}.c
                            -o ${quib_probe} RESULT_VARIABLE quib_built)
    if(quib_built EQUAL 0)
      execute_process(COMMAND ${quib_probe} RESULT_VARIABLE quib_ran)
    endif()
  endif()
  if(quib_ran STREQUAL "0")
    set(QUIB_RUNS_HERE ON CACHE BOOL "This machine runs the programs itself")
  else()
    set(QUIB_RUNS_HERE OFF CACHE BOOL "This machine runs the programs itself")
  endif()
endif()
if(NOT QUIB_RUNS_HERE AND NOT quib_in_try_compile)
  find_program(QUIB_QEMU qemu-${quib_qemu}-static REQUIRED)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUIB_QEMU})
endif()
