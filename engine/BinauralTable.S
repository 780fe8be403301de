/* The binaural filter tables (see BinauralTable.h): the bytes of
   engine/data/binaural_44100.f32 and engine/data/binaural_48000.f32, found
   through the source-root include path, as 16-byte-aligned read-only objects.
   The build refuses a file that is not exactly 20 x 8192 floats. */

        .macro  binaural_table name, file
        .section .rodata
        .balign 16
        .globl  \name
        .hidden \name
        .type   \name, @object
\name:
        .incbin "\file"
        .if (. - \name) != 655360
        .error "\file must hold 655360 bytes"
        .endif
        .size   \name, . - \name
        .endm

        binaural_table sn_BinauralTable44100, engine/data/binaural_44100.f32
        binaural_table sn_BinauralTable48000, engine/data/binaural_48000.f32

        .section .note.GNU-stack,"",@progbits
