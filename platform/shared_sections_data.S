// The two shared data sections of the executable (see shared_sections.h). They hold only
// zeros, so they are uninitialised sections: no bytes in the file, zero pages from the
// loader, which every process of the image then shares. The assembler cannot mark a section
// both shared and uninitialised; the build sets these sections' flags with objcopy
// (CMakeLists.txt). The sizes are those of the variables: 4 bytes, then
// sizeof(ElevatedRunReport) and sizeof(PublishedLogHandle).
#include "platform/asm_symbol.h"

        .section .master,"b"
        .balign 4
        .globl LI_ASM_LABEL(li_master_process_id)
LI_ASM_LABEL(li_master_process_id):
        .space 4

        .section Shared,"b"
        .balign 4
        .globl LI_ASM_LABEL(li_elevated_run_report)
LI_ASM_LABEL(li_elevated_run_report):
        .space 16
        .globl LI_ASM_LABEL(li_published_log_handle)
LI_ASM_LABEL(li_published_log_handle):
        .space 8
