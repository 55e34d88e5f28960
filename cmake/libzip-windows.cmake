# The windows lane's libzip: built once from Debian's source package into the build folder,
# statically, against Debian's MinGW zlib.
include(${CMAKE_CURRENT_LIST_DIR}/debian-source.cmake)
zarvo_debian_source_build(libzip "${CMAKE_CURRENT_LIST_DIR}/../scripts/build-libzip-mingw.sh"
  install/lib/libzip.a ZARVO_LIBZIP_WORK "${CMAKE_TOOLCHAIN_FILE}")
set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)
# The toolchain re-roots package searches, so the folder is named directly.
set(libzip_DIR "${ZARVO_LIBZIP_WORK}/install/lib/cmake/libzip" CACHE PATH "" FORCE)
find_package(libzip CONFIG REQUIRED)
