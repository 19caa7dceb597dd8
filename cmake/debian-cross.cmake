# Cross build for another Debian architecture on this machine (scripts/cross.sh): Debian's
# cross compilers (crossbuild-essential-ARCH), the target's libraries installed beside the
# host's through multiarch (/usr/lib/TRIPLET), this machine's Qt code generators (moc, rcc,
# uic), and qemu to run what was built (tests, the manual pages made from --help).
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/debian-cross.cmake -DQUELVAN_DEB_ARCH=arm64 ...
set(QUELVAN_DEB_ARCH "$ENV{QUELVAN_DEB_ARCH}" CACHE STRING "Debian architecture to build for (arm64, armhf)")
# try_compile projects read the toolchain file again without the cache.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUELVAN_DEB_ARCH)

if(QUELVAN_DEB_ARCH STREQUAL "arm64")
  set(triplet aarch64-linux-gnu)
  set(CMAKE_SYSTEM_PROCESSOR aarch64)
  set(qemu qemu-aarch64-static)
elseif(QUELVAN_DEB_ARCH STREQUAL "armhf")
  set(triplet arm-linux-gnueabihf)
  set(CMAKE_SYSTEM_PROCESSOR arm)
  set(qemu qemu-arm-static)
  # Without 64-bit file offsets, readdir and stat fail with EOVERFLOW on file systems with
  # 64-bit inode numbers, which is every one when the program is emulated on a 64-bit
  # machine. Debian's Qt for armhf is built this way too.
  set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64")
  # GCC notes at every std::map iterator passed by value that its passing changed in GCC 7.1:
  # news only for code linked against objects from before 2017, which nothing here is.
  set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -Wno-psabi")
else()
  message(FATAL_ERROR "QUELVAN_DEB_ARCH must be arm64 or armhf, not '${QUELVAN_DEB_ARCH}'")
endif()

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${triplet}-gcc)
set(CMAKE_CXX_COMPILER ${triplet}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${triplet})
set(PKG_CONFIG_EXECUTABLE ${triplet}-pkg-config CACHE FILEPATH "pkg-config for the target")

find_program(QUELVAN_QEMU ${qemu} REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QUELVAN_QEMU})

# Qt: the target's libraries and CMake files, the host's tools.
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)

# No system root: multiarch keeps the target's libraries, headers and CMake packages apart by
# directory (/usr/lib/TRIPLET), which the searches find through CMAKE_LIBRARY_ARCHITECTURE.

# The Debian package: its architecture, and dpkg-shlibdeps looking up the target's libraries.
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${QUELVAN_DEB_ARCH})
