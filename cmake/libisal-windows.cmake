# The windows lane's ISA-L: built once from Debian's source package into the build folder, as a
# static library (its assembly by Debian's nasm).
include(${CMAKE_CURRENT_LIST_DIR}/debian-source.cmake)
zarvo_debian_source_build(libisal "${CMAKE_CURRENT_LIST_DIR}/../scripts/build-libisal-mingw.sh"
  install/lib/libisal.a ZARVO_LIBISAL_WORK)
add_library(isal::isal STATIC IMPORTED)
set_target_properties(isal::isal PROPERTIES
  IMPORTED_LOCATION "${ZARVO_LIBISAL_WORK}/install/lib/libisal.a"
  INTERFACE_INCLUDE_DIRECTORIES "${ZARVO_LIBISAL_WORK}/install/include")
