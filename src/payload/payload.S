/* The payload archive, embedded byte for byte into read-only data. The build generates
   payload_config.h from the same file, and the assembler checks that the two lengths agree. */
#include "payload_config.h"

#define CAT2(a, b) a##b
#define CAT(a, b) CAT2(a, b)
#define SYM(name) CAT(__USER_LABEL_PREFIX__, name)

#if defined(_WIN32)
        .section .rdata$zarvo_payload, "dr"
#elif defined(__ELF__)
        .section .rodata.zarvo_payload, "a", @progbits
#else
#error "unsupported object format"
#endif
        .balign 16
        .globl SYM(zarvo_payload_start)
SYM(zarvo_payload_start):
        .incbin ZARVO_PAYLOAD_FILE
zarvo_payload_end:
        .byte 0     /* keeps the end label inside the section; not part of the payload */
#if defined(__ELF__)
        .type SYM(zarvo_payload_start), @object
        .size SYM(zarvo_payload_start), zarvo_payload_end - SYM(zarvo_payload_start)
#endif
        .if (zarvo_payload_end - SYM(zarvo_payload_start)) != ZARVO_PAYLOAD_SIZE
        .error "the embedded payload's length differs from ZARVO_PAYLOAD_SIZE"
        .endif
#if defined(__ELF__)
        .section .note.GNU-stack, "", @progbits
#endif
