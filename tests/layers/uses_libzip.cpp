// A source that uses the ZIP library. Compiled as part of the payload layer it builds; compiled
// as any other layer's source it must not (tests/layers/CMakeLists.txt).
#include <zip.h>

zip_t* zarvo_layer_probe(zip_source_t* source) { return zip_open_from_source(source, ZIP_RDONLY, nullptr); }
