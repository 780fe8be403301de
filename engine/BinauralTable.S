/* The binaural filter tables (see BinauralTable.h): the bytes of
   engine/data/binaural_44100.f32 and engine/data/binaural_48000.f32, found
   through the source-root include path, as 16-byte-aligned read-only objects.
   The build refuses a file that is not exactly 20 x 8192 floats. ELF and
   PE/COFF objects differ in the name of the read-only section and in symbol
   attributes; 32-bit Windows prefixes C names with an underscore
   (__USER_LABEL_PREFIX__). */

#define SN_JOIN2(a, b) a##b
#define SN_JOIN(a, b) SN_JOIN2(a, b)
#define SN_SYMBOL(name) SN_JOIN(__USER_LABEL_PREFIX__, name)

        .macro  binaural_table name, file
#if defined(_WIN32)
        .section .rdata,"dr"
#else
        .section .rodata
#endif
        .balign 16
        .globl  \name
#if !defined(_WIN32)
        .hidden \name
        .type   \name, @object
#endif
\name:
        .incbin "\file"
        .if (. - \name) != 655360
        .error "\file must hold 655360 bytes"
        .endif
#if !defined(_WIN32)
        .size   \name, . - \name
#endif
        .endm

        binaural_table SN_SYMBOL(sn_BinauralTable44100), engine/data/binaural_44100.f32
        binaural_table SN_SYMBOL(sn_BinauralTable48000), engine/data/binaural_48000.f32

#if !defined(_WIN32)
        .section .note.GNU-stack,"",@progbits
#endif
