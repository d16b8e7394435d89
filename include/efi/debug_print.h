// SPDX-License-Identifier: BSD-2-Clause-Patent
// The platform's debug print protocol: another firmware module formats and
// routes the drivers' debug messages. Only its first member is called.
#pragma once
#include "base.h"

// clang-format off
#define DEBUG_PRINT_PROTOCOL_GUID {0x669ED5B1, 0x49A3, 0x4C59, {0x9D, 0x2D, 0x04, 0x32, 0xAD, 0x6C, 0xDB, 0x61}}
// clang-format on

// Error level of every message the shared driver library sends.
#define DEBUG_LEVEL_ERROR 0x80000000ULL

typedef struct {
  // Formats Format ("%a" ASCII string, "%r" status, ...) with Args and
  // emits it when ErrorLevel passes the module's filter.
  EFI_STATUS(EFIAPI *Print)(UINTN ErrorLevel, const CHAR8 *Format, EFI_VA_LIST Args);
} DEBUG_PRINT_PROTOCOL;

#ifdef __cplusplus
static_assert(sizeof(DEBUG_PRINT_PROTOCOL) == 8, "DEBUG_PRINT_PROTOCOL");
#endif
