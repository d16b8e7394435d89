# The board adapters: product modules that give the drivers what an open EDK II
# board lacks, each one source file and one image. A board that has its own
# module for one of them leaves that adapter's fragment lines out.
IMAGES += PcdBridgeDxe SmbiosEditDxe DebugPrintDxe DebugPrintSmm
PcdBridgeDxe_SRCS := adapters/pcd_bridge.cpp
PcdBridgeDxe_ENTRY := PcdBridgeEntry
SmbiosEditDxe_SRCS := adapters/smbios_edit.cpp
SmbiosEditDxe_ENTRY := SmbiosEditEntry
DebugPrintDxe_SRCS := adapters/debug_print.cpp
DebugPrintDxe_ENTRY := DebugPrintEntry
DebugPrintSmm_SRCS := adapters/debug_print.cpp
DebugPrintSmm_ENTRY := DebugPrintEntry
DebugPrintSmm_CXXFLAGS := -DDEBUG_PRINT_SMM
# SMM images keep their sections page-aligned, as the SMM core protects them.
DebugPrintSmm_LDFLAGS := /driver /align:4096

# SMM adapters keep their sections page-aligned, as the SMM core protects
# code and data pages separately.
IMAGES += BufferCheckSmm TokenServiceSmm AdvancedGcDxe
BufferCheckSmm_SRCS := adapters/buffer_check_smm.cpp
BufferCheckSmm_ENTRY := BufferCheckSmmEntry
BufferCheckSmm_LDFLAGS := /driver /align:4096
TokenServiceSmm_SRCS := adapters/token_service_smm.cpp
TokenServiceSmm_ENTRY := TokenServiceSmmEntry
TokenServiceSmm_LDFLAGS := /driver /align:4096
AdvancedGcDxe_SRCS := adapters/advanced_gc_dxe.cpp
AdvancedGcDxe_ENTRY := AdvancedGcDxeEntry
