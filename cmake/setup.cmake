# zarvo_add_setup(<target> <archive> [DEPENDS <targets or files>...])
# Builds the setup executable around one payload archive. The archive is embedded with .incbin;
# its length constant is generated from the same file at build time, and the assembler checks
# that both agree. Changing the archive rebuilds the setup.
function(zarvo_add_setup target archive)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
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
  add_executable(${target}
    ${ZARVO_SOURCE_DIR}/src/main.cpp
    ${ZARVO_SOURCE_DIR}/src/payload/span.cpp
    "${gen}/payload.S"
    ${ZARVO_WINDOWS_RESOURCES})
  add_dependencies(${target} ${target}-payload-config)
  target_include_directories(${target} PRIVATE "${gen}")
  set_source_files_properties("${gen}/payload.S"
    PROPERTIES OBJECT_DEPENDS "${archive};${gen}/payload_config.h")
  target_link_libraries(${target} PRIVATE zarvo_core)
  if(WIN32)
    target_link_options(${target} PRIVATE -s)
  endif()
endfunction()
