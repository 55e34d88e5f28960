# ZARVO_REPLACE_GLOBAL_NEW: src/platform/allocation.cpp replaces the global allocation functions,
# so that running out of memory is reported with the size asked for. The sanitizer and fuzz
# builds turn it off (presets host-sanitize and host-fuzz): through the replacement every new and
# delete reaches AddressSanitizer as malloc and free, and its new/delete mismatch checks see
# nothing. When it is off, the platform layer's source list (src/platform/CMakeLists.txt) leaves
# allocation.cpp out.
option(ZARVO_REPLACE_GLOBAL_NEW "Replace the global operator new and delete (src/platform/allocation.cpp)" ON)
