# zarvo_debian_source_build(<name> <script> <product> <out work-dir variable> [<script arguments>...])
# Runs a script that builds a dependency of the windows lane from Debian's source package, once,
# into the build folder: `<build>/_deps/<name>-<version>`, the version read from the script's
# `<name>_version=` line, so that changing the pin builds afresh. <product> is the file, relative
# to that folder, whose presence means the build is done. The script gets that folder first,
# then the arguments given here.
function(zarvo_debian_source_build name script product out_work)
  cmake_path(SET script NORMALIZE "${script}")
  file(STRINGS "${script}" pin REGEX "^${name}_version=")
  string(REGEX REPLACE "^${name}_version=" "" version "${pin}")
  if(NOT version MATCHES "^[0-9][0-9A-Za-z.+~:-]*$")
    message(FATAL_ERROR "no ${name}_version= line in ${script}")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${script}")
  set(work "${CMAKE_BINARY_DIR}/_deps/${name}-${version}")
  if(NOT EXISTS "${work}/${product}")
    message(STATUS "Building ${name} ${version} for MinGW-w64 from Debian's source package")
    execute_process(COMMAND "${script}" "${work}" ${ARGN} RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "building ${name} failed (above, or in ${work}/*.log)")
    endif()
  endif()
  set(${out_work} "${work}" PARENT_SCOPE)
endfunction()
