# What every target of the setup's own code gets, set on the target rather than globally.

# ZARVO_COVERAGE (presets host-coverage and windows-coverage, scripts/coverage.sh): gcov counters
# in the project's own code. src/platform/CMakeLists.txt links the gcov runtime into everything
# that uses the platform layer and has the process write its counters on every way it ends.
option(ZARVO_COVERAGE "Build the project's own code with gcov counters" OFF)

# zarvo_compile_options(<target>): warnings, and build paths kept out of the image.
function(zarvo_compile_options target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-missing-field-initializers
    -ffile-prefix-map=${ZARVO_SOURCE_DIR}/=)
  if(ZARVO_COVERAGE)
    # Unoptimised, so that lines and branches are the source's own. The profile keeps the absolute
    # source paths that the prefix map above takes away, so that gcov finds the sources.
    target_compile_options(${target} PRIVATE --coverage -O0
      -fprofile-prefix-map=${ZARVO_SOURCE_DIR}/=${ZARVO_SOURCE_DIR}/)
    target_link_options(${target} PUBLIC --coverage)
  endif()
  # GCC 12 reports false overlaps inside std::string concatenation (a known compiler bug).
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
endfunction()

# zarvo_layer(<target>): a layer other than the payload layer. The ZIP library, zlib and ISA-L
# belong to the payload layer alone: linking them PRIVATE there keeps their headers out of every
# other layer's include path, and where a system package puts them on the default path anyway
# (the host lane), their include guards are taken in advance, so that such an include gives
# nothing and any use fails to compile.
function(zarvo_layer target)
  zarvo_compile_options(${target})
  target_compile_options(${target} PRIVATE -include ${ZARVO_SOURCE_DIR}/cmake/without-libzip.h)
endfunction()
