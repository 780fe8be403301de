/* The binaural filter table (see BinauralTable.h): the bytes of
   engine/data/binaural_table.f32, found through the source-root include path,
   as a 16-byte-aligned read-only object. The build refuses a file that is not
   exactly 20 x 8192 floats. */

        .section .rodata
        .balign 16
        .globl  sn_BinauralTable
        .hidden sn_BinauralTable
        .type   sn_BinauralTable, @object
sn_BinauralTable:
        .incbin "engine/data/binaural_table.f32"
        .if (. - sn_BinauralTable) != 655360
        .error "engine/data/binaural_table.f32 must hold 655360 bytes"
        .endif
        .size   sn_BinauralTable, . - sn_BinauralTable

        .section .note.GNU-stack,"",@progbits
