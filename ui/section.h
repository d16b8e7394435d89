// SPDX-License-Identifier: BSD-2-Clause-Patent
// Raw sections of firmware files, read through the firmware volume protocol
// of whichever volume holds the file.
#pragma once
#include "efi/efi.h"
#include "ui/guids.h"  // gFirmwareVolumeProtocolGuid

// Section type of a raw section.
#define RAW_SECTION_TYPE 0x19

// Reads raw section number Instance of the firmware file NameGuid from the
// first firmware volume that has it. On success *Buffer is pool memory from
// the volume (the caller frees it) and *Size its length; EFI_NOT_FOUND when
// no volume has the section.
EFI_STATUS ReadRawSection(const EFI_GUID *NameGuid, VOID **Buffer, UINTN *Size, UINTN Instance);
