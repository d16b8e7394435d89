// SPDX-License-Identifier: BSD-2-Clause-Patent
// A tiny driver that proves the toolchain: it exercises what the compiler
// needs from the runtime (memset/memcpy, large frames, local statics) and
// publishes a protocol the test bed and host tests can call.
#pragma once
#include "efi/efi.h"

// clang-format off
#define SELFTEST_PROTOCOL_GUID {0x6A1EE5C4, 0x1A3B, 0x4D5E, {0x9F, 0x21, 0x3C, 0x7D, 0x84, 0x0B, 0x55, 0xE1}}
// clang-format on

typedef struct {
  UINT64 Revision;
  UINT64 EntryChecksum;  // checksum computed at entry over a 5000-byte frame buffer
  UINT64(EFIAPI *Sum)(UINT64 A, UINT64 B);
  UINT64(EFIAPI *CallCount)(void);
} SELFTEST_PROTOCOL;

EFI_EXTERN_C EFI_STATUS EFIAPI SelfTestEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
EFI_EXTERN_C EFI_STATUS EFIAPI SelfTestUnload(EFI_HANDLE ImageHandle);
