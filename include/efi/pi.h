// Platform Initialization definitions: SMM Base2 and the SMM system table,
// the PCD protocols, the Firmware Volume2 protocol and HOB headers.
#pragma once
#include "system.h"

// clang-format off
#define EFI_SMM_BASE2_PROTOCOL_GUID {0xF4CCBFB7, 0xF6E0, 0x47FD, {0x9D, 0xD4, 0x10, 0xA8, 0xF1, 0x50, 0xC1, 0x91}}
#define PCD_PROTOCOL_GUID {0x11B34006, 0xD85B, 0x4D0A, {0xA2, 0x90, 0xD5, 0xA5, 0x71, 0x31, 0x0E, 0xF7}}
#define EFI_PCD_PROTOCOL_GUID {0x13A3F0F6, 0x264A, 0x3EF0, {0xF2, 0xE0, 0xDE, 0xC5, 0x12, 0x34, 0x2F, 0x34}}
#define EFI_HOB_LIST_GUID {0x7739F24C, 0x93D7, 0x11D4, {0x9A, 0x3A, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D}}
// clang-format on
// Answered by every firmware volume in today's firmware (PI Firmware Volume2).
// clang-format off
#define EFI_FIRMWARE_VOLUME2_PROTOCOL_GUID {0x220E73B6, 0x6BDB, 0x4413, {0x84, 0x05, 0xB9, 0x74, 0xB1, 0x08, 0x61, 0x9A}}
#define EFI_DXE_SERVICES_TABLE_GUID {0x05AD34BA, 0x6F02, 0x4214, {0x95, 0x2E, 0x4D, 0xA0, 0x39, 0x8E, 0x2B, 0xB9}}
// clang-format on

#define EFI_SECTION_PE32 0x10
#define EFI_SECTION_RAW 0x19

// ---- SMM ----

typedef struct EFI_SMM_SYSTEM_TABLE2 EFI_SMM_SYSTEM_TABLE2;

typedef struct EFI_SMM_BASE2_PROTOCOL EFI_SMM_BASE2_PROTOCOL;
struct EFI_SMM_BASE2_PROTOCOL {
  EFI_STATUS(EFIAPI *InSmm)(const EFI_SMM_BASE2_PROTOCOL *This, BOOLEAN *InSmram);
  EFI_STATUS(EFIAPI *GetSmstLocation)(const EFI_SMM_BASE2_PROTOCOL *This, EFI_SMM_SYSTEM_TABLE2 **Smst);
};

// The only statuses an SMI handler may return. The SMM core reports the first
// two to a communication's sender as success and the other two as
// EFI_NOT_FOUND; anything else stops a debug build of the core.
#define EFI_WARN_INTERRUPT_SOURCE_PENDING 0x2000000000000000ULL
#define EFI_WARN_INTERRUPT_SOURCE_QUIESCED 0x2000000000000001ULL
#define EFI_INTERRUPT_PENDING 0xA000000000000000ULL

// SMRAM as the chipset reports it (SMM Access2, a boot-services protocol),
// and the SMM protocols that mark the end of DXE and the lock point.
// clang-format off
#define EFI_SMM_ACCESS2_PROTOCOL_GUID {0xC2702B74, 0x800C, 0x4131, {0x87, 0x46, 0x8F, 0xB5, 0xB8, 0x9C, 0xE4, 0xAC}}
#define EFI_SMM_END_OF_DXE_PROTOCOL_GUID {0x24E70042, 0xD5C5, 0x4260, {0x8C, 0x39, 0x0A, 0xD3, 0xAA, 0x32, 0xE9, 0x3D}}
#define EFI_SMM_READY_TO_LOCK_PROTOCOL_GUID {0x47B7FA8C, 0xF4BD, 0x4AF6, {0x82, 0x00, 0x33, 0x30, 0x86, 0xF0, 0xD2, 0xC8}}
// clang-format on

typedef struct {
  EFI_PHYSICAL_ADDRESS PhysicalStart;
  EFI_PHYSICAL_ADDRESS CpuStart;
  UINT64 PhysicalSize;
  UINT64 RegionState;
} EFI_SMRAM_DESCRIPTOR;

typedef struct EFI_SMM_ACCESS2_PROTOCOL EFI_SMM_ACCESS2_PROTOCOL;
struct EFI_SMM_ACCESS2_PROTOCOL {
  EFI_STATUS(EFIAPI *Open)(EFI_SMM_ACCESS2_PROTOCOL *This);
  EFI_STATUS(EFIAPI *Close)(EFI_SMM_ACCESS2_PROTOCOL *This);
  EFI_STATUS(EFIAPI *Lock)(EFI_SMM_ACCESS2_PROTOCOL *This);
  EFI_STATUS(EFIAPI *GetCapabilities)(const EFI_SMM_ACCESS2_PROTOCOL *This, UINTN *SmramMapSize, EFI_SMRAM_DESCRIPTOR *SmramMap);
  BOOLEAN LockState;
  BOOLEAN OpenState;
};

#ifdef __cplusplus
static_assert(sizeof(EFI_SMRAM_DESCRIPTOR) == 32, "SMRAM descriptor");
static_assert(offsetof(EFI_SMM_ACCESS2_PROTOCOL, GetCapabilities) == 24, "SMM Access2.GetCapabilities");
#endif

typedef EFI_STATUS(EFIAPI *EFI_SMM_HANDLER_ENTRY_POINT2)(EFI_HANDLE DispatchHandle, const VOID *Context, VOID *CommBuffer,
                                                         UINTN *CommBufferSize);
typedef EFI_STATUS(EFIAPI *EFI_SMM_NOTIFY_FN)(const EFI_GUID *Protocol, VOID *Interface, EFI_HANDLE Handle);

typedef struct {
  EFI_STATUS(EFIAPI *Read)(const VOID *This, UINTN Width, UINT64 Address, UINTN Count, VOID *Buffer);
  EFI_STATUS(EFIAPI *Write)(const VOID *This, UINTN Width, UINT64 Address, UINTN Count, VOID *Buffer);
} EFI_SMM_IO_ACCESS2;

typedef struct {
  EFI_SMM_IO_ACCESS2 Mem;
  EFI_SMM_IO_ACCESS2 Io;
} EFI_SMM_CPU_IO2_PROTOCOL;

struct EFI_SMM_SYSTEM_TABLE2 {
  EFI_TABLE_HEADER Hdr;
  CHAR16 *SmmFirmwareVendor;
  UINT32 SmmFirmwareRevision;
  EFI_STATUS(EFIAPI *SmmInstallConfigurationTable)
  (const EFI_SMM_SYSTEM_TABLE2 *SystemTable, const EFI_GUID *Guid, VOID *Table, UINTN TableSize);
  EFI_SMM_CPU_IO2_PROTOCOL SmmIo;
  EFI_STATUS(EFIAPI *SmmAllocatePool)(EFI_MEMORY_TYPE PoolType, UINTN Size, VOID **Buffer);
  EFI_STATUS(EFIAPI *SmmFreePool)(VOID *Buffer);
  EFI_STATUS(EFIAPI *SmmAllocatePages)(EFI_ALLOCATE_TYPE Type, EFI_MEMORY_TYPE MemoryType, UINTN Pages, EFI_PHYSICAL_ADDRESS *Memory);
  EFI_STATUS(EFIAPI *SmmFreePages)(EFI_PHYSICAL_ADDRESS Memory, UINTN Pages);
  EFI_STATUS(EFIAPI *SmmStartupThisAp)(VOID *Procedure, UINTN CpuNumber, VOID *ProcArguments);
  UINTN CurrentlyExecutingCpu;
  UINTN NumberOfCpus;
  UINTN *CpuSaveStateSize;
  VOID **CpuSaveState;
  UINTN NumberOfTableEntries;
  EFI_CONFIGURATION_TABLE *SmmConfigurationTable;
  EFI_STATUS(EFIAPI *SmmInstallProtocolInterface)
  (EFI_HANDLE *Handle, const EFI_GUID *Protocol, EFI_INTERFACE_TYPE InterfaceType, VOID *Interface);
  EFI_STATUS(EFIAPI *SmmUninstallProtocolInterface)(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID *Interface);
  EFI_STATUS(EFIAPI *SmmHandleProtocol)(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID **Interface);
  EFI_STATUS(EFIAPI *SmmRegisterProtocolNotify)(const EFI_GUID *Protocol, EFI_SMM_NOTIFY_FN Function, VOID **Registration);
  EFI_STATUS(EFIAPI *SmmLocateHandle)
  (EFI_LOCATE_SEARCH_TYPE SearchType, const EFI_GUID *Protocol, VOID *SearchKey, UINTN *BufferSize, EFI_HANDLE *Buffer);
  EFI_STATUS(EFIAPI *SmmLocateProtocol)(const EFI_GUID *Protocol, VOID *Registration, VOID **Interface);
  EFI_STATUS(EFIAPI *SmiManage)(const EFI_GUID *HandlerType, const VOID *Context, VOID *CommBuffer, UINTN *CommBufferSize);
  EFI_STATUS(EFIAPI *SmiHandlerRegister)(EFI_SMM_HANDLER_ENTRY_POINT2 Handler, const EFI_GUID *HandlerType, EFI_HANDLE *DispatchHandle);
  EFI_STATUS(EFIAPI *SmiHandlerUnRegister)(EFI_HANDLE DispatchHandle);
};

// ---- PCD ----

// Walks a token space: *TokenNumber 0 asks for the first token, any other for
// the one after it; EFI_NOT_FOUND past the last. A null Guid names the
// platform's own (local) token numbers.
typedef EFI_STATUS(EFIAPI *PCD_GET_NEXT_TOKEN)(const EFI_GUID *Guid, UINTN *TokenNumber);

// The token-number PCD protocol: getters and setters for the default token space.
typedef struct {
  VOID(EFIAPI *SetSku)(UINTN SkuId);
  UINT8(EFIAPI *Get8)(UINTN TokenNumber);
  UINT16(EFIAPI *Get16)(UINTN TokenNumber);
  UINT32(EFIAPI *Get32)(UINTN TokenNumber);
  UINT64(EFIAPI *Get64)(UINTN TokenNumber);
  VOID *(EFIAPI *GetPtr)(UINTN TokenNumber);
  BOOLEAN(EFIAPI *GetBool)(UINTN TokenNumber);
  UINTN(EFIAPI *GetSize)(UINTN TokenNumber);
  UINT8(EFIAPI *Get8Ex)(const EFI_GUID *Guid, UINTN TokenNumber);
  UINT16(EFIAPI *Get16Ex)(const EFI_GUID *Guid, UINTN TokenNumber);
  UINT32(EFIAPI *Get32Ex)(const EFI_GUID *Guid, UINTN TokenNumber);
  UINT64(EFIAPI *Get64Ex)(const EFI_GUID *Guid, UINTN TokenNumber);
  VOID *(EFIAPI *GetPtrEx)(const EFI_GUID *Guid, UINTN TokenNumber);
  BOOLEAN(EFIAPI *GetBoolEx)(const EFI_GUID *Guid, UINTN TokenNumber);
  UINTN(EFIAPI *GetSizeEx)(const EFI_GUID *Guid, UINTN TokenNumber);
  EFI_STATUS(EFIAPI *Set8)(UINTN TokenNumber, UINT8 Value);
  EFI_STATUS(EFIAPI *Set16)(UINTN TokenNumber, UINT16 Value);
  EFI_STATUS(EFIAPI *Set32)(UINTN TokenNumber, UINT32 Value);
  EFI_STATUS(EFIAPI *Set64)(UINTN TokenNumber, UINT64 Value);
  EFI_STATUS(EFIAPI *SetPtr)(UINTN TokenNumber, UINTN *SizeOfBuffer, VOID *Buffer);
  EFI_STATUS(EFIAPI *SetBool)(UINTN TokenNumber, BOOLEAN Value);
  EFI_STATUS(EFIAPI *Set8Ex)(const EFI_GUID *Guid, UINTN TokenNumber, UINT8 Value);
  EFI_STATUS(EFIAPI *Set16Ex)(const EFI_GUID *Guid, UINTN TokenNumber, UINT16 Value);
  EFI_STATUS(EFIAPI *Set32Ex)(const EFI_GUID *Guid, UINTN TokenNumber, UINT32 Value);
  EFI_STATUS(EFIAPI *Set64Ex)(const EFI_GUID *Guid, UINTN TokenNumber, UINT64 Value);
  EFI_STATUS(EFIAPI *SetPtrEx)(const EFI_GUID *Guid, UINTN TokenNumber, UINTN *SizeOfBuffer, VOID *Buffer);
  EFI_STATUS(EFIAPI *SetBoolEx)(const EFI_GUID *Guid, UINTN TokenNumber, BOOLEAN Value);
  VOID *CallbackOnSet;
  VOID *CancelCallback;
  PCD_GET_NEXT_TOKEN GetNextToken;
  VOID *GetNextTokenSpace;
} PCD_PROTOCOL;

// The PI PCD protocol: every access names its token space.
typedef struct {
  VOID(EFIAPI *SetSku)(UINTN SkuId);
  UINT8(EFIAPI *Get8)(const EFI_GUID *Guid, UINTN TokenNumber);
  UINT16(EFIAPI *Get16)(const EFI_GUID *Guid, UINTN TokenNumber);
  UINT32(EFIAPI *Get32)(const EFI_GUID *Guid, UINTN TokenNumber);
  UINT64(EFIAPI *Get64)(const EFI_GUID *Guid, UINTN TokenNumber);
  VOID *(EFIAPI *GetPtr)(const EFI_GUID *Guid, UINTN TokenNumber);
  BOOLEAN(EFIAPI *GetBool)(const EFI_GUID *Guid, UINTN TokenNumber);
  UINTN(EFIAPI *GetSize)(const EFI_GUID *Guid, UINTN TokenNumber);
  EFI_STATUS(EFIAPI *Set8)(const EFI_GUID *Guid, UINTN TokenNumber, UINT8 Value);
  EFI_STATUS(EFIAPI *Set16)(const EFI_GUID *Guid, UINTN TokenNumber, UINT16 Value);
  EFI_STATUS(EFIAPI *Set32)(const EFI_GUID *Guid, UINTN TokenNumber, UINT32 Value);
  EFI_STATUS(EFIAPI *Set64)(const EFI_GUID *Guid, UINTN TokenNumber, UINT64 Value);
  EFI_STATUS(EFIAPI *SetPtr)(const EFI_GUID *Guid, UINTN TokenNumber, UINTN *SizeOfBuffer, VOID *Buffer);
  EFI_STATUS(EFIAPI *SetBool)(const EFI_GUID *Guid, UINTN TokenNumber, BOOLEAN Value);
  VOID *CallbackOnSet;
  VOID *CancelCallback;
  PCD_GET_NEXT_TOKEN GetNextToken;
  VOID *GetNextTokenSpace;
} EFI_PCD_PROTOCOL;

// ---- Firmware volume ----

typedef UINT32 EFI_FV_FILE_ATTRIBUTES;
typedef UINT8 EFI_FV_FILETYPE;
typedef UINT8 EFI_SECTION_TYPE;

typedef struct EFI_FIRMWARE_VOLUME2_PROTOCOL EFI_FIRMWARE_VOLUME2_PROTOCOL;
struct EFI_FIRMWARE_VOLUME2_PROTOCOL {
  VOID *GetVolumeAttributes;
  VOID *SetVolumeAttributes;
  EFI_STATUS(EFIAPI *ReadFile)
  (const EFI_FIRMWARE_VOLUME2_PROTOCOL *This, const EFI_GUID *NameGuid, VOID **Buffer, UINTN *BufferSize, EFI_FV_FILETYPE *FoundType,
   EFI_FV_FILE_ATTRIBUTES *FileAttributes, UINT32 *AuthenticationStatus);
  EFI_STATUS(EFIAPI *ReadSection)
  (const EFI_FIRMWARE_VOLUME2_PROTOCOL *This, const EFI_GUID *NameGuid, EFI_SECTION_TYPE SectionType, UINTN SectionInstance, VOID **Buffer,
   UINTN *BufferSize, UINT32 *AuthenticationStatus);
  VOID *WriteFile;
  VOID *GetNextFile;
  UINT32 KeySize;
  EFI_HANDLE ParentHandle;
  VOID *GetInfo;
  VOID *SetInfo;
};

// ---- HOBs ----

typedef struct {
  UINT16 HobType;
  UINT16 HobLength;
  UINT32 Reserved;
} EFI_HOB_GENERIC_HEADER;

#define EFI_HOB_TYPE_END_OF_HOB_LIST 0xFFFF

#ifdef __cplusplus
static_assert(sizeof(EFI_SMM_BASE2_PROTOCOL) == 16, "SMM Base2");
static_assert(offsetof(EFI_SMM_SYSTEM_TABLE2, SmmIo) == 0x30, "Smst.SmmIo");
static_assert(offsetof(EFI_SMM_SYSTEM_TABLE2, SmmAllocatePool) == 0x50, "Smst.SmmAllocatePool");
static_assert(offsetof(EFI_SMM_SYSTEM_TABLE2, CurrentlyExecutingCpu) == 0x78, "Smst.CurrentlyExecutingCpu");
static_assert(offsetof(EFI_SMM_SYSTEM_TABLE2, SmmInstallProtocolInterface) == 0xA8, "Smst.SmmInstallProtocolInterface");
static_assert(offsetof(EFI_SMM_SYSTEM_TABLE2, SmmLocateProtocol) == 0xD0, "Smst.SmmLocateProtocol");
static_assert(offsetof(EFI_SMM_SYSTEM_TABLE2, SmiHandlerRegister) == 0xE0, "Smst.SmiHandlerRegister");
static_assert(sizeof(EFI_SMM_SYSTEM_TABLE2) == 0xF0, "EFI_SMM_SYSTEM_TABLE2");
static_assert(offsetof(PCD_PROTOCOL, Set8) == 15 * 8, "PCD.Set8");
static_assert(offsetof(PCD_PROTOCOL, Set64) == 18 * 8, "PCD.Set64");
static_assert(offsetof(EFI_PCD_PROTOCOL, Set64) == 11 * 8, "PI PCD.Set64");
static_assert(offsetof(PCD_PROTOCOL, GetNextToken) == 29 * 8, "PCD.GetNextToken");
static_assert(offsetof(EFI_PCD_PROTOCOL, GetNextToken) == 16 * 8, "PI PCD.GetNextToken");
static_assert(offsetof(EFI_FIRMWARE_VOLUME2_PROTOCOL, ReadSection) == 24, "FV2.ReadSection");
static_assert(sizeof(EFI_HOB_GENERIC_HEADER) == 8, "HOB header");
#endif
