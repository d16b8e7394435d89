// SPDX-License-Identifier: BSD-2-Clause-Patent
// The system table, boot services, runtime services and the console protocols
// it carries, every member in the standard order.
#pragma once
#include "base.h"

typedef enum {
  EfiReservedMemoryType,
  EfiLoaderCode,
  EfiLoaderData,
  EfiBootServicesCode,
  EfiBootServicesData,
  EfiRuntimeServicesCode,
  EfiRuntimeServicesData,
  EfiConventionalMemory,
  EfiUnusableMemory,
  EfiACPIReclaimMemory,
  EfiACPIMemoryNVS,
  EfiMemoryMappedIO,
  EfiMemoryMappedIOPortSpace,
  EfiPalCode,
  EfiPersistentMemory,
  EfiMaxMemoryType
} EFI_MEMORY_TYPE;

typedef enum { AllocateAnyPages, AllocateMaxAddress, AllocateAddress, MaxAllocateType } EFI_ALLOCATE_TYPE;
typedef enum { TimerCancel, TimerPeriodic, TimerRelative } EFI_TIMER_DELAY;
typedef enum { EFI_NATIVE_INTERFACE } EFI_INTERFACE_TYPE;
typedef enum { AllHandles, ByRegisterNotify, ByProtocol } EFI_LOCATE_SEARCH_TYPE;
typedef enum { EfiResetCold, EfiResetWarm, EfiResetShutdown, EfiResetPlatformSpecific } EFI_RESET_TYPE;

#define EVT_TIMER 0x80000000U
#define EVT_RUNTIME 0x40000000U
#define EVT_NOTIFY_WAIT 0x00000100U
#define EVT_NOTIFY_SIGNAL 0x00000200U
#define EVT_SIGNAL_EXIT_BOOT_SERVICES 0x00000201U
#define EVT_SIGNAL_VIRTUAL_ADDRESS_CHANGE 0x60000202U

#define EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL 0x01
#define EFI_OPEN_PROTOCOL_GET_PROTOCOL 0x02
#define EFI_OPEN_PROTOCOL_TEST_PROTOCOL 0x04
#define EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER 0x08
#define EFI_OPEN_PROTOCOL_BY_DRIVER 0x10
#define EFI_OPEN_PROTOCOL_EXCLUSIVE 0x20

#define EFI_VARIABLE_NON_VOLATILE 0x1
#define EFI_VARIABLE_BOOTSERVICE_ACCESS 0x2
#define EFI_VARIABLE_RUNTIME_ACCESS 0x4

#define EFI_PAGE_SIZE 4096
#define EFI_SIZE_TO_PAGES(s) (((s) + EFI_PAGE_SIZE - 1) / EFI_PAGE_SIZE)

typedef VOID(EFIAPI *EFI_EVENT_NOTIFY)(EFI_EVENT Event, VOID *Context);

typedef struct {
  UINT32 Type;
  EFI_PHYSICAL_ADDRESS PhysicalStart;
  EFI_VIRTUAL_ADDRESS VirtualStart;
  UINT64 NumberOfPages;
  UINT64 Attribute;
} EFI_MEMORY_DESCRIPTOR;

typedef struct {
  EFI_HANDLE AgentHandle;
  EFI_HANDLE ControllerHandle;
  UINT32 Attributes;
  UINT32 OpenCount;
} EFI_OPEN_PROTOCOL_INFORMATION_ENTRY;

typedef struct EFI_DEVICE_PATH_PROTOCOL {
  UINT8 Type;
  UINT8 SubType;
  UINT8 Length[2];
} EFI_DEVICE_PATH_PROTOCOL;

// ---- Console ----

typedef struct {
  UINT16 ScanCode;
  CHAR16 UnicodeChar;
} EFI_INPUT_KEY;

#define SCAN_NULL 0x00
#define SCAN_UP 0x01
#define SCAN_DOWN 0x02
#define SCAN_RIGHT 0x03
#define SCAN_LEFT 0x04
#define SCAN_HOME 0x05
#define SCAN_END 0x06
#define SCAN_PAGE_UP 0x09
#define SCAN_PAGE_DOWN 0x0A
#define SCAN_ESC 0x17
#define CHAR_TAB 0x0009
#define CHAR_CARRIAGE_RETURN 0x000D

typedef struct EFI_SIMPLE_TEXT_INPUT_PROTOCOL EFI_SIMPLE_TEXT_INPUT_PROTOCOL;
struct EFI_SIMPLE_TEXT_INPUT_PROTOCOL {
  EFI_STATUS(EFIAPI *Reset)(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *This, BOOLEAN ExtendedVerification);
  EFI_STATUS(EFIAPI *ReadKeyStroke)(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *This, EFI_INPUT_KEY *Key);
  EFI_EVENT WaitForKey;
};

typedef struct {
  INT32 MaxMode;
  INT32 Mode;
  INT32 Attribute;
  INT32 CursorColumn;
  INT32 CursorRow;
  BOOLEAN CursorVisible;
} SIMPLE_TEXT_OUTPUT_MODE;

typedef struct EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL;
struct EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL {
  EFI_STATUS(EFIAPI *Reset)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, BOOLEAN ExtendedVerification);
  EFI_STATUS(EFIAPI *OutputString)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, CHAR16 *String);
  EFI_STATUS(EFIAPI *TestString)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, CHAR16 *String);
  EFI_STATUS(EFIAPI *QueryMode)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, UINTN ModeNumber, UINTN *Columns, UINTN *Rows);
  EFI_STATUS(EFIAPI *SetMode)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, UINTN ModeNumber);
  EFI_STATUS(EFIAPI *SetAttribute)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, UINTN Attribute);
  EFI_STATUS(EFIAPI *ClearScreen)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This);
  EFI_STATUS(EFIAPI *SetCursorPosition)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, UINTN Column, UINTN Row);
  EFI_STATUS(EFIAPI *EnableCursor)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, BOOLEAN Visible);
  SIMPLE_TEXT_OUTPUT_MODE *Mode;
};

// ---- Boot services ----

typedef struct {
  EFI_TABLE_HEADER Hdr;
  EFI_TPL(EFIAPI *RaiseTPL)(EFI_TPL NewTpl);
  VOID(EFIAPI *RestoreTPL)(EFI_TPL OldTpl);
  EFI_STATUS(EFIAPI *AllocatePages)(EFI_ALLOCATE_TYPE Type, EFI_MEMORY_TYPE MemoryType, UINTN Pages, EFI_PHYSICAL_ADDRESS *Memory);
  EFI_STATUS(EFIAPI *FreePages)(EFI_PHYSICAL_ADDRESS Memory, UINTN Pages);
  EFI_STATUS(EFIAPI *GetMemoryMap)
  (UINTN *MemoryMapSize, EFI_MEMORY_DESCRIPTOR *MemoryMap, UINTN *MapKey, UINTN *DescriptorSize, UINT32 *DescriptorVersion);
  EFI_STATUS(EFIAPI *AllocatePool)(EFI_MEMORY_TYPE PoolType, UINTN Size, VOID **Buffer);
  EFI_STATUS(EFIAPI *FreePool)(VOID *Buffer);
  EFI_STATUS(EFIAPI *CreateEvent)(UINT32 Type, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY NotifyFunction, VOID *NotifyContext, EFI_EVENT *Event);
  EFI_STATUS(EFIAPI *SetTimer)(EFI_EVENT Event, EFI_TIMER_DELAY Type, UINT64 TriggerTime);
  EFI_STATUS(EFIAPI *WaitForEvent)(UINTN NumberOfEvents, EFI_EVENT *Event, UINTN *Index);
  EFI_STATUS(EFIAPI *SignalEvent)(EFI_EVENT Event);
  EFI_STATUS(EFIAPI *CloseEvent)(EFI_EVENT Event);
  EFI_STATUS(EFIAPI *CheckEvent)(EFI_EVENT Event);
  EFI_STATUS(EFIAPI *InstallProtocolInterface)
  (EFI_HANDLE *Handle, const EFI_GUID *Protocol, EFI_INTERFACE_TYPE InterfaceType, VOID *Interface);
  EFI_STATUS(EFIAPI *ReinstallProtocolInterface)(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID *OldInterface, VOID *NewInterface);
  EFI_STATUS(EFIAPI *UninstallProtocolInterface)(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID *Interface);
  EFI_STATUS(EFIAPI *HandleProtocol)(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID **Interface);
  VOID *Reserved;
  EFI_STATUS(EFIAPI *RegisterProtocolNotify)(const EFI_GUID *Protocol, EFI_EVENT Event, VOID **Registration);
  EFI_STATUS(EFIAPI *LocateHandle)
  (EFI_LOCATE_SEARCH_TYPE SearchType, const EFI_GUID *Protocol, VOID *SearchKey, UINTN *BufferSize, EFI_HANDLE *Buffer);
  EFI_STATUS(EFIAPI *LocateDevicePath)(const EFI_GUID *Protocol, EFI_DEVICE_PATH_PROTOCOL **DevicePath, EFI_HANDLE *Device);
  EFI_STATUS(EFIAPI *InstallConfigurationTable)(const EFI_GUID *Guid, VOID *Table);
  EFI_STATUS(EFIAPI *LoadImage)
  (BOOLEAN BootPolicy, EFI_HANDLE ParentImageHandle, EFI_DEVICE_PATH_PROTOCOL *DevicePath, VOID *SourceBuffer, UINTN SourceSize,
   EFI_HANDLE *ImageHandle);
  EFI_STATUS(EFIAPI *StartImage)(EFI_HANDLE ImageHandle, UINTN *ExitDataSize, CHAR16 **ExitData);
  EFI_STATUS(EFIAPI *Exit)(EFI_HANDLE ImageHandle, EFI_STATUS ExitStatus, UINTN ExitDataSize, CHAR16 *ExitData);
  EFI_STATUS(EFIAPI *UnloadImage)(EFI_HANDLE ImageHandle);
  EFI_STATUS(EFIAPI *ExitBootServices)(EFI_HANDLE ImageHandle, UINTN MapKey);
  EFI_STATUS(EFIAPI *GetNextMonotonicCount)(UINT64 *Count);
  EFI_STATUS(EFIAPI *Stall)(UINTN Microseconds);
  EFI_STATUS(EFIAPI *SetWatchdogTimer)(UINTN Timeout, UINT64 WatchdogCode, UINTN DataSize, CHAR16 *WatchdogData);
  EFI_STATUS(EFIAPI *ConnectController)
  (EFI_HANDLE ControllerHandle, EFI_HANDLE *DriverImageHandle, EFI_DEVICE_PATH_PROTOCOL *RemainingDevicePath, BOOLEAN Recursive);
  EFI_STATUS(EFIAPI *DisconnectController)(EFI_HANDLE ControllerHandle, EFI_HANDLE DriverImageHandle, EFI_HANDLE ChildHandle);
  EFI_STATUS(EFIAPI *OpenProtocol)
  (EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID **Interface, EFI_HANDLE AgentHandle, EFI_HANDLE ControllerHandle, UINT32 Attributes);
  EFI_STATUS(EFIAPI *CloseProtocol)(EFI_HANDLE Handle, const EFI_GUID *Protocol, EFI_HANDLE AgentHandle, EFI_HANDLE ControllerHandle);
  EFI_STATUS(EFIAPI *OpenProtocolInformation)
  (EFI_HANDLE Handle, const EFI_GUID *Protocol, EFI_OPEN_PROTOCOL_INFORMATION_ENTRY **EntryBuffer, UINTN *EntryCount);
  EFI_STATUS(EFIAPI *ProtocolsPerHandle)(EFI_HANDLE Handle, EFI_GUID ***ProtocolBuffer, UINTN *ProtocolBufferCount);
  EFI_STATUS(EFIAPI *LocateHandleBuffer)
  (EFI_LOCATE_SEARCH_TYPE SearchType, const EFI_GUID *Protocol, VOID *SearchKey, UINTN *NoHandles, EFI_HANDLE **Buffer);
  EFI_STATUS(EFIAPI *LocateProtocol)(const EFI_GUID *Protocol, VOID *Registration, VOID **Interface);
  EFI_STATUS(EFIAPI *InstallMultipleProtocolInterfaces)(EFI_HANDLE *Handle, ...);
  EFI_STATUS(EFIAPI *UninstallMultipleProtocolInterfaces)(EFI_HANDLE Handle, ...);
  EFI_STATUS(EFIAPI *CalculateCrc32)(VOID *Data, UINTN DataSize, UINT32 *Crc32);
  VOID(EFIAPI *CopyMem)(VOID *Destination, const VOID *Source, UINTN Length);
  VOID(EFIAPI *SetMem)(VOID *Buffer, UINTN Size, UINT8 Value);
  EFI_STATUS(EFIAPI *CreateEventEx)
  (UINT32 Type, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY NotifyFunction, const VOID *NotifyContext, const EFI_GUID *EventGroup,
   EFI_EVENT *Event);
} EFI_BOOT_SERVICES;

// ---- Runtime services ----

typedef struct {
  EFI_TABLE_HEADER Hdr;
  EFI_STATUS(EFIAPI *GetTime)(EFI_TIME *Time, VOID *Capabilities);
  EFI_STATUS(EFIAPI *SetTime)(EFI_TIME *Time);
  EFI_STATUS(EFIAPI *GetWakeupTime)(BOOLEAN *Enabled, BOOLEAN *Pending, EFI_TIME *Time);
  EFI_STATUS(EFIAPI *SetWakeupTime)(BOOLEAN Enable, EFI_TIME *Time);
  EFI_STATUS(EFIAPI *SetVirtualAddressMap)
  (UINTN MemoryMapSize, UINTN DescriptorSize, UINT32 DescriptorVersion, EFI_MEMORY_DESCRIPTOR *VirtualMap);
  EFI_STATUS(EFIAPI *ConvertPointer)(UINTN DebugDisposition, VOID **Address);
  EFI_STATUS(EFIAPI *GetVariable)(const CHAR16 *VariableName, const EFI_GUID *VendorGuid, UINT32 *Attributes, UINTN *DataSize, VOID *Data);
  EFI_STATUS(EFIAPI *GetNextVariableName)(UINTN *VariableNameSize, CHAR16 *VariableName, EFI_GUID *VendorGuid);
  EFI_STATUS(EFIAPI *SetVariable)
  (const CHAR16 *VariableName, const EFI_GUID *VendorGuid, UINT32 Attributes, UINTN DataSize, const VOID *Data);
  EFI_STATUS(EFIAPI *GetNextHighMonotonicCount)(UINT32 *HighCount);
  VOID(EFIAPI *ResetSystem)(EFI_RESET_TYPE ResetType, EFI_STATUS ResetStatus, UINTN DataSize, VOID *ResetData);
  EFI_STATUS(EFIAPI *UpdateCapsule)(VOID **CapsuleHeaderArray, UINTN CapsuleCount, EFI_PHYSICAL_ADDRESS ScatterGatherList);
  EFI_STATUS(EFIAPI *QueryCapsuleCapabilities)
  (VOID **CapsuleHeaderArray, UINTN CapsuleCount, UINT64 *MaximumCapsuleSize, EFI_RESET_TYPE *ResetType);
  EFI_STATUS(EFIAPI *QueryVariableInfo)
  (UINT32 Attributes, UINT64 *MaximumVariableStorageSize, UINT64 *RemainingVariableStorageSize, UINT64 *MaximumVariableSize);
} EFI_RUNTIME_SERVICES;

// ---- System table ----

typedef struct {
  EFI_GUID VendorGuid;
  VOID *VendorTable;
} EFI_CONFIGURATION_TABLE;

typedef struct {
  EFI_TABLE_HEADER Hdr;
  CHAR16 *FirmwareVendor;
  UINT32 FirmwareRevision;
  EFI_HANDLE ConsoleInHandle;
  EFI_SIMPLE_TEXT_INPUT_PROTOCOL *ConIn;
  EFI_HANDLE ConsoleOutHandle;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *ConOut;
  EFI_HANDLE StandardErrorHandle;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *StdErr;
  EFI_RUNTIME_SERVICES *RuntimeServices;
  EFI_BOOT_SERVICES *BootServices;
  UINTN NumberOfTableEntries;
  EFI_CONFIGURATION_TABLE *ConfigurationTable;
} EFI_SYSTEM_TABLE;

typedef EFI_STATUS(EFIAPI *EFI_IMAGE_ENTRY_POINT)(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
typedef EFI_STATUS(EFIAPI *EFI_IMAGE_UNLOAD)(EFI_HANDLE ImageHandle);

#ifdef __cplusplus
#include <stddef.h>
static_assert(sizeof(EFI_INPUT_KEY) == 4, "EFI_INPUT_KEY");
static_assert(sizeof(SIMPLE_TEXT_OUTPUT_MODE) == 24, "SIMPLE_TEXT_OUTPUT_MODE");
static_assert(offsetof(SIMPLE_TEXT_OUTPUT_MODE, CursorVisible) == 20, "CursorVisible");
static_assert(sizeof(EFI_SIMPLE_TEXT_INPUT_PROTOCOL) == 24, "text input");
static_assert(sizeof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL) == 80, "text output");
static_assert(offsetof(EFI_BOOT_SERVICES, RaiseTPL) == 0x18, "RaiseTPL");
static_assert(offsetof(EFI_BOOT_SERVICES, AllocatePool) == 0x40, "AllocatePool");
static_assert(offsetof(EFI_BOOT_SERVICES, CreateEvent) == 0x50, "CreateEvent");
static_assert(offsetof(EFI_BOOT_SERVICES, InstallProtocolInterface) == 0x80, "InstallProtocolInterface");
static_assert(offsetof(EFI_BOOT_SERVICES, HandleProtocol) == 0x98, "HandleProtocol");
static_assert(offsetof(EFI_BOOT_SERVICES, LoadImage) == 0xC8, "LoadImage");
static_assert(offsetof(EFI_BOOT_SERVICES, Stall) == 0xF8, "Stall");
static_assert(offsetof(EFI_BOOT_SERVICES, OpenProtocol) == 0x118, "OpenProtocol");
static_assert(offsetof(EFI_BOOT_SERVICES, LocateHandleBuffer) == 0x138, "LocateHandleBuffer");
static_assert(offsetof(EFI_BOOT_SERVICES, LocateProtocol) == 0x140, "LocateProtocol");
static_assert(offsetof(EFI_BOOT_SERVICES, SetMem) == 0x168, "SetMem");
static_assert(offsetof(EFI_BOOT_SERVICES, CreateEventEx) == 0x170, "CreateEventEx");
static_assert(sizeof(EFI_BOOT_SERVICES) == 0x178, "EFI_BOOT_SERVICES");
static_assert(offsetof(EFI_RUNTIME_SERVICES, ConvertPointer) == 0x40, "ConvertPointer");
static_assert(offsetof(EFI_RUNTIME_SERVICES, GetVariable) == 0x48, "GetVariable");
static_assert(offsetof(EFI_RUNTIME_SERVICES, SetVariable) == 0x58, "SetVariable");
static_assert(offsetof(EFI_RUNTIME_SERVICES, ResetSystem) == 0x68, "ResetSystem");
static_assert(sizeof(EFI_RUNTIME_SERVICES) == 0x88, "EFI_RUNTIME_SERVICES");
static_assert(offsetof(EFI_SYSTEM_TABLE, ConIn) == 0x30, "ConIn");
static_assert(offsetof(EFI_SYSTEM_TABLE, ConOut) == 0x40, "ConOut");
static_assert(offsetof(EFI_SYSTEM_TABLE, RuntimeServices) == 0x58, "RuntimeServices");
static_assert(offsetof(EFI_SYSTEM_TABLE, BootServices) == 0x60, "BootServices");
static_assert(offsetof(EFI_SYSTEM_TABLE, ConfigurationTable) == 0x70, "ConfigurationTable");
static_assert(sizeof(EFI_SYSTEM_TABLE) == 0x78, "EFI_SYSTEM_TABLE");
static_assert(sizeof(EFI_CONFIGURATION_TABLE) == 24, "EFI_CONFIGURATION_TABLE");
#endif
