// SPDX-License-Identifier: BSD-2-Clause-Patent
// The token service that stores platform configuration tokens. Another SMM
// module publishes it; the settings translation only opens it, picks the
// level, sets tokens and closes it. Entries this driver never calls are kept
// as placeholders so that every used entry sits at its fixed slot.
#pragma once
#include "efi/efi.h"

// clang-format off
#define TOKEN_SERVICE_PROTOCOL_GUID {0x8151730C, 0xE1D3, 0x4C8C, {0x91, 0x7B, 0xA3, 0x9B, 0x7E, 0xD4, 0x82, 0x65}}
// clang-format on

// The level every token write of the settings translation goes to.
#define TOKEN_LEVEL 3

typedef struct TOKEN_SERVICE_PROTOCOL TOKEN_SERVICE_PROTOCOL;

struct TOKEN_SERVICE_PROTOCOL {
  VOID *Reserved0;
  // Completes the writes made since the opening call.
  EFI_STATUS(EFIAPI *Finish)(TOKEN_SERVICE_PROTOCOL *This);
  VOID *Reserved2[13];
  // Starts a session; the caller passes the interface again as its second
  // argument. An error means no token may be written.
  EFI_STATUS(EFIAPI *Open)(TOKEN_SERVICE_PROTOCOL *This, TOKEN_SERVICE_PROTOCOL *Service);
  // Ends the session the opening call started.
  EFI_STATUS(EFIAPI *Close)(TOKEN_SERVICE_PROTOCOL *This);
  VOID *Reserved17;
  EFI_STATUS(EFIAPI *SetBool)(TOKEN_SERVICE_PROTOCOL *This, UINT8 Level, UINT32 Token, BOOLEAN Value);
  VOID *Reserved19;
  EFI_STATUS(EFIAPI *Set8)(TOKEN_SERVICE_PROTOCOL *This, UINT8 Level, UINT32 Token, UINT8 Value);
  VOID *Reserved21;
  EFI_STATUS(EFIAPI *Set16)(TOKEN_SERVICE_PROTOCOL *This, UINT8 Level, UINT32 Token, UINT16 Value);
  VOID *Reserved23;
  EFI_STATUS(EFIAPI *Set32)(TOKEN_SERVICE_PROTOCOL *This, UINT8 Level, UINT32 Token, UINT32 Value);
  VOID *Reserved25[2];
  // Selects the level that the following writes go to.
  EFI_STATUS(EFIAPI *SetLevel)(TOKEN_SERVICE_PROTOCOL *This, UINT8 Level);
};

#ifdef __cplusplus
#include <stddef.h>
static_assert(offsetof(TOKEN_SERVICE_PROTOCOL, Finish) == 8, "token service: finishing entry");
static_assert(offsetof(TOKEN_SERVICE_PROTOCOL, Open) == 120, "token service: opening entry");
static_assert(offsetof(TOKEN_SERVICE_PROTOCOL, Close) == 128, "token service: closing entry");
static_assert(offsetof(TOKEN_SERVICE_PROTOCOL, SetBool) == 144, "token service: boolean setter");
static_assert(offsetof(TOKEN_SERVICE_PROTOCOL, Set8) == 160, "token service: 8-bit setter");
static_assert(offsetof(TOKEN_SERVICE_PROTOCOL, Set16) == 176, "token service: 16-bit setter");
static_assert(offsetof(TOKEN_SERVICE_PROTOCOL, Set32) == 192, "token service: 32-bit setter");
static_assert(offsetof(TOKEN_SERVICE_PROTOCOL, SetLevel) == 216, "token service: level entry");
static_assert(sizeof(TOKEN_SERVICE_PROTOCOL) == 28 * 8, "token service: 28 entries");
#endif
