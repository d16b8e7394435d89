// SPDX-License-Identifier: BSD-2-Clause-Patent
// NetIdentityDxe: finds the on-board NIC's MAC address from a fixed location
// table and, at the end of DXE, stamps it into the SMBIOS system UUID and the
// DMI variables.
#pragma once
#include "efi/efi.h"
#include "efi/image_tables.h"

// ---- NIC discovery ----

#define NIC_KIND_IO 0    // controller registers in I/O space
#define NIC_KIND_MMIO 1  // controller registers in memory space

// Where the controller sits behind the PCI Express bridges.
typedef struct {
  UINT8 Kind;
  UINT8 Bus;  // a bridge selector on most processors, see the bridge lookup
  UINT8 Device;
  UINT8 Function;
  UINT8 Reserved[2];
} NIC_LOCATION;

typedef struct {
  UINT64 Found;  // 1 when a controller answered
  UINT8 Mac[6];  // as read from the controller, first byte first
} NIC_PROBE_RESULT;

static_assert(sizeof(NIC_LOCATION) == 6, "NIC_LOCATION");
static_assert(offsetof(NIC_PROBE_RESULT, Mac) == 8, "NIC_PROBE_RESULT.Mac");
static_assert(sizeof(NIC_PROBE_RESULT) == 16, "NIC_PROBE_RESULT");

#define NIC_LOCATION_COUNT 1

extern NIC_LOCATION NicLocationTable[NIC_LOCATION_COUNT];
extern NIC_PROBE_RESULT NicProbeResult[NIC_LOCATION_COUNT];
extern UINT8 NicProbeMac[6];  // probe scratch
extern UINT8 NicCurrentRow;   // the row the probes work on

// Secondary bus number of the bridge in front of the row's controller.
UINT8 NicBridgeSecondaryBus(const NIC_LOCATION *Row);
// Probe the row at NicCurrentRow; 1 when found (MAC left in NicProbeMac).
UINTN ProbeIoNic(VOID);
UINTN ProbeMmioNic(VOID);
// Probe every table row and fill NicProbeResult.
VOID DiscoverNics(VOID);

// ---- System identity ----

// Vendor GUID of "DmiArray", "DmiVar0100010800" and "WriteOnceStatus".
// clang-format off
#define DMI_VARIABLE_GUID {0x4B3082A3, 0x80C6, 0x4D7E, {0x9C, 0xD0, 0x58, 0x39, 0x17, 0x26, 0x5D, 0xF1}}
// clang-format on
#define DMI_ARRAY_SIZE 1280
#define DMI_ARRAY_ENTRY_SIZE 5
#define DMI_ARRAY_MAX_ENTRIES 255
#define WRITE_ONCE_STATUS_SIZE 64
#define WRITE_ONCE_ENTRY_FREE 0x7F
#define IDENTITY_BLOCK_SIZE 16

// One change recorded in DmiArray; entry k (from 1) is at byte 5k.
#pragma pack(push, 1)
typedef struct {
  UINT8 Type;
  UINT16 Handle;
  UINT8 Offset;
  UINT8 Reserved;
} DMI_ARRAY_ENTRY;

// One field recorded in WriteOnceStatus; Type 0x7F marks a free entry.
typedef struct {
  UINT8 Type;
  UINT8 Offset;
  UINT16 Handle;
} WRITE_ONCE_ENTRY;
#pragma pack(pop)

static_assert(sizeof(DMI_ARRAY_ENTRY) == DMI_ARRAY_ENTRY_SIZE, "DMI_ARRAY_ENTRY");
static_assert(offsetof(DMI_ARRAY_ENTRY, Offset) == 3, "DMI_ARRAY_ENTRY.Offset");
static_assert(sizeof(WRITE_ONCE_ENTRY) == 4, "WRITE_ONCE_ENTRY");
static_assert(offsetof(WRITE_ONCE_ENTRY, Handle) == 2, "WRITE_ONCE_ENTRY.Handle");

// EFI_SUCCESS when the identity was written, EFI_UNSUPPORTED when there was
// nothing to do or nothing to do it with.
EFI_STATUS StampSystemIdentity(VOID);

VOID EFIAPI OnEndOfDxe(EFI_EVENT Event, VOID *Context);
extern "C" EFI_STATUS EFIAPI NetIdentityEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

// ---- Text ----

// Bounded UTF-16 print into BufferSize bytes; understands "%s" (UTF-16) and
// "%%". Always terminates; returns the characters stored.
UINTN EFIAPI Utf16PrintBounded(CHAR16 *Buffer, UINTN BufferSize, const CHAR16 *Format, ...);
// Low byte of each unit, then a zero, into at most DestMax bytes. Refuses a
// null pointer (EFI_INVALID_PARAMETER), a source of DestMax characters or
// more (EFI_BUFFER_TOO_SMALL) and overlapping buffers (EFI_ACCESS_DENIED)
// without copying.
EFI_STATUS Utf16ToAsciiBounded(const CHAR16 *Source, CHAR8 *Destination, UINTN DestMax);
