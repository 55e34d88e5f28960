/* Forced into every source of the layers other than the payload layer (cmake/layers.cmake): the
   include guards of the ZIP library's and zlib's headers, taken in advance, so that including
   them there gives nothing and any use fails to compile. */
#define _HAD_ZIP_H
#define ZLIB_H
