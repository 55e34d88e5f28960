# The windows lane's libzip: built once from Debian's source package into the build folder,
# statically, against Debian's MinGW zlib. The folder carries the pinned version, so changing
# the pin in the script builds it afresh.
cmake_path(SET ZARVO_LIBZIP_SCRIPT NORMALIZE "${CMAKE_CURRENT_LIST_DIR}/../scripts/build-libzip-mingw.sh")
file(STRINGS "${ZARVO_LIBZIP_SCRIPT}" pin REGEX "^libzip_version=")
string(REGEX REPLACE "^libzip_version=" "" ZARVO_LIBZIP_VERSION "${pin}")
if(NOT ZARVO_LIBZIP_VERSION MATCHES "^[0-9][0-9A-Za-z.+~:-]*$")
  message(FATAL_ERROR "no libzip_version= line in ${ZARVO_LIBZIP_SCRIPT}")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${ZARVO_LIBZIP_SCRIPT}")
set(ZARVO_LIBZIP_WORK "${CMAKE_BINARY_DIR}/_deps/libzip-${ZARVO_LIBZIP_VERSION}")
if(NOT EXISTS "${ZARVO_LIBZIP_WORK}/install/lib/libzip.a")
  message(STATUS "Building libzip ${ZARVO_LIBZIP_VERSION} for MinGW-w64 from Debian's source package")
  execute_process(
    COMMAND ${ZARVO_LIBZIP_SCRIPT} "${ZARVO_LIBZIP_WORK}" "${CMAKE_TOOLCHAIN_FILE}"
    RESULT_VARIABLE libzip_result)
  if(NOT libzip_result EQUAL 0)
    message(FATAL_ERROR "building libzip failed (above, or in ${ZARVO_LIBZIP_WORK}/*.log)")
  endif()
endif()
set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)
# The toolchain re-roots package searches, so the folder is named directly.
set(libzip_DIR "${ZARVO_LIBZIP_WORK}/install/lib/cmake/libzip" CACHE PATH "" FORCE)
find_package(libzip CONFIG REQUIRED)
