/* Forced into every source of the layers other than the payload layer (cmake/layers.cmake): the
   include guards of the ZIP library's, zlib's and ISA-L's headers, taken in advance, so that
   including them there gives nothing and any use fails to compile. */
#define _HAD_ZIP_H
#define ZLIB_H
#define _IGZIP_H
#define _CRC_H_
