// SPDX-License-Identifier: BSD-2-Clause-Patent
// The platform SMBIOS driver's edit protocol: reads a pool copy of a live
// SMBIOS structure and replaces a live structure. Its functions take no
// interface pointer; only the two members used here are typed.
#pragma once
#include "base.h"

// clang-format off
#define SMBIOS_EDIT_PROTOCOL_GUID {0x5E90A50D, 0x6955, 0x4A49, {0x90, 0x32, 0xDA, 0x38, 0x12, 0xF8, 0xE8, 0xE5}}
// clang-format on

typedef struct {
  VOID *Reserved[8];
  // Returns a pool copy (the caller frees it with FreePool) of the Instance-th
  // (1-based) structure of the given type, and its size in bytes.
  EFI_STATUS(EFIAPI *ReadStructureByType)(UINT8 Type, UINT8 Instance, VOID **Structure, UINT16 *Size);
  // Replaces the live structure that carries Handle with Structure.
  EFI_STATUS(EFIAPI *WriteStructureByHandle)(UINT16 Handle, VOID *Structure, UINT16 Size);
} SMBIOS_EDIT_PROTOCOL;

// The fields of the SMBIOS System Information structure (type 1) used here.
#define SMBIOS_TYPE_SYSTEM_INFORMATION 1
#define SMBIOS_HEADER_LENGTH_OFFSET 1  // formatted length, without the strings
#define SMBIOS_HEADER_HANDLE_OFFSET 2
#define SMBIOS_TYPE1_UUID_OFFSET 8
#define SMBIOS_TYPE1_UUID_SIZE 16

#ifdef __cplusplus
static_assert(__builtin_offsetof(SMBIOS_EDIT_PROTOCOL, ReadStructureByType) == 8 * 8, "SMBIOS edit: 9th member");
static_assert(__builtin_offsetof(SMBIOS_EDIT_PROTOCOL, WriteStructureByHandle) == 9 * 8, "SMBIOS edit: 10th member");
#endif
