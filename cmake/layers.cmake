# What every target of the setup's own code gets, set on the target rather than globally.
#
# zarvo_compile_options(<target>): warnings, and build paths kept out of the image.
function(zarvo_compile_options target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-missing-field-initializers
    -ffile-prefix-map=${ZARVO_SOURCE_DIR}/=)
  # GCC 12 reports false overlaps inside std::string concatenation (a known compiler bug).
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
endfunction()

# zarvo_layer(<target>): a layer other than the payload layer. The ZIP library and zlib belong to
# the payload layer alone: linking them PRIVATE there keeps their headers out of every other
# layer's include path, and where a system package puts them on the default path anyway (the
# host lane), their include guards are taken in advance, so that such an include gives nothing
# and any use fails to compile.
function(zarvo_layer target)
  zarvo_compile_options(${target})
  target_compile_options(${target} PRIVATE -include ${ZARVO_SOURCE_DIR}/cmake/without-libzip.h)
endfunction()
