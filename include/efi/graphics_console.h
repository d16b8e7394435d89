// SPDX-License-Identifier: BSD-2-Clause-Patent
// The platform's graphics console, located by gAdvancedGcProtocolGuid: it
// draws the text console over the graphics output and can show a pixel
// backdrop behind the text of a rectangle. Its interface is a table of
// function pointers called without an interface pointer; only the fourth and
// the fifth entry are ever called.
#pragma once
#include "base.h"
#include "protocols.h"

// clang-format off
#define ADVANCED_GC_PROTOCOL_GUID {0xFBC9449A, 0x681C, 0x4517, {0xAB, 0x91, 0x09, 0x72, 0xAC, 0xDE, 0x77, 0xB4}}
// clang-format on

// Shows Buffer (Width x Height pixels, copied by the console) behind the text
// at (X, Y) of the graphics output.
typedef VOID(EFIAPI *ADVANCED_GC_SET_BACKDROP)(EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Buffer, UINTN X, UINTN Y, UINTN Width, UINTN Height);
// Withdraws the backdrop of that rectangle again.
typedef VOID(EFIAPI *ADVANCED_GC_CLEAR_BACKDROP)(UINTN X, UINTN Y, UINTN Width, UINTN Height);

typedef struct {
  VOID *Function0;
  VOID *Function1;
  VOID *Function2;
  ADVANCED_GC_SET_BACKDROP SetBackdrop;
  ADVANCED_GC_CLEAR_BACKDROP ClearBackdrop;
} ADVANCED_GC_PROTOCOL;

#ifdef __cplusplus
static_assert(offsetof(ADVANCED_GC_PROTOCOL, SetBackdrop) == 24, "graphics console function 3");
static_assert(offsetof(ADVANCED_GC_PROTOCOL, ClearBackdrop) == 32, "graphics console function 4");
#endif
