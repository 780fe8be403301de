/* The binaural filter table (see BinauralTable.h): the bytes of
   engine/data/binaural_table.f32, found through the source-root include path,
   as a 16-byte-aligned read-only object. The build refuses a file that is not
   exactly 20 x 8192 floats. ELF and PE/COFF objects differ in the name of the
   read-only section and in symbol attributes; 32-bit Windows prefixes C names
   with an underscore (__USER_LABEL_PREFIX__). */

#define SN_JOIN2(a, b) a##b
#define SN_JOIN(a, b) SN_JOIN2(a, b)
#define SN_TABLE SN_JOIN(__USER_LABEL_PREFIX__, sn_BinauralTable)

#if defined(_WIN32)
        .section .rdata,"dr"
#else
        .section .rodata
#endif
        .balign 16
        .globl  SN_TABLE
#if !defined(_WIN32)
        .hidden SN_TABLE
        .type   SN_TABLE, @object
#endif
SN_TABLE:
        .incbin "engine/data/binaural_table.f32"
        .if (. - SN_TABLE) != 655360
        .error "engine/data/binaural_table.f32 must hold 655360 bytes"
        .endif
#if !defined(_WIN32)
        .size   SN_TABLE, . - SN_TABLE

        .section .note.GNU-stack,"",@progbits
#endif
