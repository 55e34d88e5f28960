# ZARVO_REPLACE_GLOBAL_NEW: src/platform/allocation.cpp replaces the global allocation functions,
# so that running out of memory is reported with the size asked for. The sanitizer and fuzz
# builds turn it off (presets host-sanitize and host-fuzz): through the replacement every new and
# delete reaches AddressSanitizer as malloc and free, and its new/delete mismatch checks see
# nothing. When it is off, allocation.cpp is in no target at all; whatever lists the sources of
# the platform code leaves it out (see the root CMakeLists.txt).
#
# At the end of the configure every target of the project is searched for the file, so a source
# list that stops honouring the option fails the configure instead of building the wrong thing.
option(ZARVO_REPLACE_GLOBAL_NEW "Replace the global operator new and delete (src/platform/allocation.cpp)" ON)
set(ZARVO_GLOBAL_NEW_SOURCE ${ZARVO_SOURCE_DIR}/src/platform/allocation.cpp)

function(zarvo_check_global_new)
  set(holders)
  set(directories ${CMAKE_SOURCE_DIR})
  while(directories)
    list(POP_FRONT directories directory)
    get_property(subdirectories DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
    list(APPEND directories ${subdirectories})
    get_property(targets DIRECTORY ${directory} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target ${targets})
      get_target_property(sources ${target} SOURCES)
      get_target_property(target_source_dir ${target} SOURCE_DIR)
      foreach(source ${sources})
        if(source MATCHES "\\$<")
          continue()
        endif()
        cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${target_source_dir} NORMALIZE)
        if(source STREQUAL ZARVO_GLOBAL_NEW_SOURCE)
          list(APPEND holders ${target})
        endif()
      endforeach()
    endforeach()
  endwhile()
  if(ZARVO_REPLACE_GLOBAL_NEW AND NOT holders)
    message(FATAL_ERROR "ZARVO_REPLACE_GLOBAL_NEW is ON, but no target builds ${ZARVO_GLOBAL_NEW_SOURCE}")
  elseif(NOT ZARVO_REPLACE_GLOBAL_NEW AND holders)
    message(FATAL_ERROR "ZARVO_REPLACE_GLOBAL_NEW is OFF, but ${ZARVO_GLOBAL_NEW_SOURCE} is built into: ${holders}")
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL zarvo_check_global_new)
