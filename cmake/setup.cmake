# zarvo_add_setup(<target> <archive> [MAIN <source>] [DEPENDS <targets or files>...])
# Builds the setup executable around one payload archive. The archive is embedded with .incbin;
# its length constant is generated from the same file at build time, and the assembler checks
# that both agree. Changing the archive rebuilds the setup.
function(zarvo_add_setup target archive)
  cmake_parse_arguments(ARG "" "MAIN" "DEPENDS" ${ARGN})
  if(NOT ARG_MAIN)
    set(ARG_MAIN ${ZARVO_SOURCE_DIR}/src/main.cpp)  # a test may put its own entry point around a payload
  endif()
  set(gen "${CMAKE_CURRENT_BINARY_DIR}/${target}-payload")
  add_custom_command(
    OUTPUT "${gen}/payload_config.h"
    COMMAND ${CMAKE_COMMAND} -DARCHIVE=${archive} -DOUTPUT=${gen}/payload_config.h
            -P ${ZARVO_SOURCE_DIR}/cmake/payload-config.cmake
    DEPENDS "${archive}" ${ARG_DEPENDS} ${ZARVO_SOURCE_DIR}/cmake/payload-config.cmake
    COMMENT "Sizing payload for ${target}"
    VERBATIM)
  add_custom_target(${target}-payload-config DEPENDS "${gen}/payload_config.h")
  # One assembly file per setup, so that its dependency on this archive is its own.
  file(WRITE "${gen}/payload.S.in" "#include \"${ZARVO_SOURCE_DIR}/src/payload/payload.S\"\n")
  configure_file("${gen}/payload.S.in" "${gen}/payload.S" COPYONLY)
  set(resources)
  if(WIN32)
    # The manifest and a version resource whose version is the payload's own.
    add_custom_command(
      OUTPUT "${gen}/payload_version.h"
      COMMAND ${Python3_EXECUTABLE} ${ZARVO_SOURCE_DIR}/tools/payload_version.py ${archive} ${gen}/payload_version.h
      DEPENDS "${archive}" ${ARG_DEPENDS} ${ZARVO_SOURCE_DIR}/tools/payload_version.py
      VERBATIM)
    file(WRITE "${gen}/resources.rc.in" "#include \"${ZARVO_SOURCE_DIR}/src/resources/zarvo-setup.rc\"\n")
    configure_file("${gen}/resources.rc.in" "${gen}/resources.rc" COPYONLY)
    set_source_files_properties("${gen}/resources.rc" PROPERTIES
      OBJECT_DEPENDS "${gen}/payload_version.h;${ZARVO_SOURCE_DIR}/src/resources/zarvo-setup.manifest;${ZARVO_SOURCE_DIR}/src/resources/zarvo-setup.rc")
    set(resources "${gen}/resources.rc")
  endif()
  add_executable(${target}
    ${ARG_MAIN}
    ${ZARVO_SOURCE_DIR}/src/payload/span.cpp
    "${gen}/payload.S"
    ${resources})
  add_dependencies(${target} ${target}-payload-config)
  target_include_directories(${target} PRIVATE "${gen}" ${ZARVO_SOURCE_DIR}/src/resources)
  set_source_files_properties("${gen}/payload.S"
    PROPERTIES OBJECT_DEPENDS "${archive};${gen}/payload_config.h")
  target_link_libraries(${target} PRIVATE zarvo_setup)
  zarvo_layer(${target})
  if(WIN32)
    # Stripped, and without a link time stamp, so that the same inputs give the same bytes.
    target_link_options(${target} PRIVATE -s -Wl,--no-insert-timestamp)
  endif()
endfunction()
