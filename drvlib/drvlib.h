// SPDX-License-Identifier: BSD-2-Clause-Patent
// The shared driver library: the start-up every small DXE driver runs first
// (firmware table pointers, the cached platform configuration values, the HOB
// list), plus debug printing and cached PCD access for later use.
//
// One source serves five images. Each image's manifest ("defines", read by
// the image build and its host test) sets these compile-time options for
// every library source it builds; DRVLIB_MODULE_NAME is the image's name:
//
//   DRVLIB_FULL_STARTUP=1       also run the runtime scratch, platform MMIO base and SMM
//                               presence steps (NetIdentityDxe). Default 0.
//   DRVLIB_HOB_YIELDS_POINTER=1 the start-up uses the HOB-list lookup that
//                               yields the pointer instead of a status
//                               (PcdCacheLiteDxe). Default 0.
//   DRVLIB_MODULE_NAME="Name"   the image's base name, compared with "SbRun"
//                               by the platform MMIO base step. Default "".
//                               (Set it for every image; only the full
//                               start-up looks at it.)
#pragma once
#include "efi/efi.h"
#include "efi/debug_print.h"
#include "efi/image_tables.h"

#ifndef DRVLIB_FULL_STARTUP
#define DRVLIB_FULL_STARTUP 0
#endif
#ifndef DRVLIB_HOB_YIELDS_POINTER
#define DRVLIB_HOB_YIELDS_POINTER 0
#endif
#ifndef DRVLIB_MODULE_NAME
#define DRVLIB_MODULE_NAME ""
#endif

// Present in SMM once the platform's SMM library services are up; only its
// presence matters.
// clang-format off
#define SMM_LIB_READY_PROTOCOL_GUID {0xAAB18F19, 0xFE14, 0x4666, {0x86, 0x04, 0x87, 0xFF, 0x6D, 0x66, 0x2C, 0x9A}}
// clang-format on

// Physical base of the chipset's MMIO block kept by the full start-up.
#define PLATFORM_MMIO_BASE 0xFED80000ULL

// PCD token numbers cached in CfgPcdBuffer, in buffer order.
#define CFG_PCD_TOKEN_846 846
#define CFG_PCD_TOKEN_1179 1179
#define CFG_PCD_TOKEN_1103 1103
#define CFG_PCD_TOKEN_1178 1178
#define CFG_PCD_TOKEN_1184 1184
#define CFG_PCD_TOKEN_1182 1182
#define CFG_PCD_TOKEN_1183 1183
#define CFG_PCD_TOKEN_1180 1180
#define CFG_PCD_TOKEN_1112 1112
#define CFG_PCD_TOKEN_1111 1111
#define CFG_PCD_TOKEN_1181 1181

#define CFG_PCD_BUFFER_SIGNATURE 0x00800301U
#define CFG_PCD_BUFFER_REVISION 1
#define CFG_PCD_BUFFER_END_MARK 2

// The platform configuration values cached at start-up for code linked with
// the library; its byte layout is what that code reads, so it is packed.
#pragma pack(push, 1)
typedef struct {
  UINT32 Signature;  // CFG_PCD_BUFFER_SIGNATURE once filled
  UINT8 Revision;    // CFG_PCD_BUFFER_REVISION once filled
  BOOLEAN Pcd846;
  BOOLEAN Pcd1179;
  UINT8 Pcd1103;
  UINT8 Pcd1178;
  UINT8 Pcd1184;
  UINT8 Pcd1182;
  UINT32 Pcd1183;
  BOOLEAN Pcd1180;
  UINT32 Pcd1112;
  UINT32 Pcd1111;
  UINT8 Pcd1181;
  UINT8 EndMark;  // CFG_PCD_BUFFER_END_MARK once filled
} CFG_PCD_BUFFER;
#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(CFG_PCD_BUFFER) == 26, "CFG_PCD_BUFFER");
static_assert(offsetof(CFG_PCD_BUFFER, Revision) == 4, "CFG_PCD_BUFFER.Revision");
static_assert(offsetof(CFG_PCD_BUFFER, Pcd846) == 5, "CFG_PCD_BUFFER.Pcd846");
static_assert(offsetof(CFG_PCD_BUFFER, Pcd1103) == 7, "CFG_PCD_BUFFER.Pcd1103");
static_assert(offsetof(CFG_PCD_BUFFER, Pcd1183) == 11, "CFG_PCD_BUFFER.Pcd1183");
static_assert(offsetof(CFG_PCD_BUFFER, Pcd1180) == 15, "CFG_PCD_BUFFER.Pcd1180");
static_assert(offsetof(CFG_PCD_BUFFER, Pcd1112) == 16, "CFG_PCD_BUFFER.Pcd1112");
static_assert(offsetof(CFG_PCD_BUFFER, Pcd1111) == 20, "CFG_PCD_BUFFER.Pcd1111");
static_assert(offsetof(CFG_PCD_BUFFER, Pcd1181) == 24, "CFG_PCD_BUFFER.Pcd1181");
static_assert(offsetof(CFG_PCD_BUFFER, EndMark) == 25, "CFG_PCD_BUFFER.EndMark");
#endif

extern "C" {

// ---- Module state (one copy per image) ----

extern const EFI_GUID gPcdProtocolGuid;  // looked up by the start-up and by GetPcdProtocol
extern CFG_PCD_BUFFER CfgPcdBuffer;
extern PCD_PROTOCOL *gDrvLibPcd;                 // null until the first PCD access
extern DEBUG_PRINT_PROTOCOL *gDrvLibDebugPrint;  // null until the first message
extern VOID *HobListPointer;                     // null until found

// Full start-up only.
extern VOID *RuntimeScratch32;   // 32 bytes, left as allocated
extern VOID *RuntimeScratch100;  // 100 bytes, zeroed
extern VOID *RuntimeScratch8;    // 8 bytes, zeroed
extern UINTN PlatformMmioBase;
extern EFI_EVENT PlatformMmioBaseEvent;  // created only for an "SbRun" base name
extern UINT8 SmmLibReady;
extern VOID *SmmLibReadyRegistration;
extern const CHAR8 *DrvLibModuleBaseName;  // DRVLIB_MODULE_NAME

// ---- Start-up ----

// Runs every start-up step of this build in order; no failure stops it, and
// the caller goes on with its own work whatever happened.
VOID DrvLibStartup(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

// Step 1: keep the image handle and the table pointers (gImageHandle, gST,
// gBS, gRT), the image's only copies.
VOID DrvLibKeepTables(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

// Steps 2-5: zero CfgPcdBuffer, check both PCD protocols, fill it. Reports a
// missing protocol at DEBUG_LEVEL_ERROR and leaves the buffer all zero.
EFI_STATUS EFIAPI CfgPcdBufLibDxeConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

// Step 6: the three runtime scratch blocks.
EFI_STATUS RuntimeScratchConstructor(VOID);

// Step 7: PlatformMmioBase and, for an "SbRun" base name, its
// virtual-address-change event.
EFI_STATUS PlatformMmioBaseConstructor(VOID);
// True when BaseName counts as "SbRun": compared over BaseName's length, so an
// empty name or a prefix of "SbRun" matches and a longer name does not.
BOOLEAN ModuleNameIsSbRun(const CHAR8 *BaseName);

// Step 8: fills HobListPointer from the configuration table (first match).
EFI_STATUS LocateHobList(VOID);    // EFI_SUCCESS or EFI_NOT_FOUND
VOID *LocateHobListPointer(VOID);  // the pointer, or null

// Step 9: sets SmmLibReady when the SMM marker protocol is present, or
// registers an SMM notification that sets it later.
EFI_STATUS SmmPresenceConstructor(VOID);

// ---- Services ----

// Forwards to the platform debug print protocol (located on first use, tried
// again after a failure). Returns the print's status or the lookup failure.
EFI_STATUS EFIAPI DebugPrint(UINTN ErrorLevel, const CHAR8 *Format, ...);

// The PCD protocol, located and cached on first use; null while absent.
PCD_PROTOCOL *GetPcdProtocol(VOID);

}  // extern "C"
