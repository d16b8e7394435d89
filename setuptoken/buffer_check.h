// SPDX-License-Identifier: BSD-2-Clause-Patent
// The SMM buffer check that another SMM module publishes: it tells whether a
// buffer handed in from outside SMRAM may be used. Only its first entry is
// relied on, and it takes no interface pointer.
#pragma once
#include "efi/efi.h"

// clang-format off
#define SMM_BUFFER_CHECK_PROTOCOL_GUID {0xDA473D7F, 0x4B31, 0x4D63, {0x92, 0xB7, 0x3D, 0x90, 0x5E, 0xF8, 0x4B, 0x84}}
// clang-format on

typedef struct {
  // An error status means the buffer must not be touched.
  EFI_STATUS(EFIAPI *CheckBuffer)(const VOID *Buffer, UINTN Size);
} SMM_BUFFER_CHECK_PROTOCOL;

#ifdef __cplusplus
#include <stddef.h>
static_assert(offsetof(SMM_BUFFER_CHECK_PROTOCOL, CheckBuffer) == 0, "buffer check: first entry");
#endif
