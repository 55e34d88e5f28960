# cmake -DARCHIVE=<zip> -DOUTPUT=<header> -P payload-config.cmake
# Writes the header that both the assembler and the C++ code read: the archive's path and its
# length, taken from the same file. Rewritten only when it changes, so a rebuild stays minimal.
file(SIZE "${ARCHIVE}" size)
set(text "/* Generated from the payload archive; do not edit. */\n#define ZARVO_PAYLOAD_FILE \"${ARCHIVE}\"\n#define ZARVO_PAYLOAD_SIZE ${size}\n")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
  if(old STREQUAL text)
    return()
  endif()
endif()
file(WRITE "${OUTPUT}" "${text}")
