# The windows lane's libzip: built once from Debian's source package into the build folder,
# statically, against Debian's MinGW zlib.
set(ZARVO_LIBZIP_WORK "${CMAKE_BINARY_DIR}/_deps/libzip")
if(NOT EXISTS "${ZARVO_LIBZIP_WORK}/install/lib/libzip.a")
  message(STATUS "Building libzip for MinGW-w64 from Debian's source package")
  execute_process(
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/../scripts/build-libzip-mingw.sh
            "${ZARVO_LIBZIP_WORK}" "${CMAKE_TOOLCHAIN_FILE}"
    RESULT_VARIABLE libzip_result)
  if(NOT libzip_result EQUAL 0)
    message(FATAL_ERROR "building libzip failed (see ${ZARVO_LIBZIP_WORK}/*.log)")
  endif()
endif()
set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)
# The toolchain re-roots package searches, so the folder is named directly.
set(libzip_DIR "${ZARVO_LIBZIP_WORK}/install/lib/cmake/libzip" CACHE PATH "" FORCE)
find_package(libzip CONFIG REQUIRED)
