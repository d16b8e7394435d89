// SPDX-License-Identifier: BSD-2-Clause-Patent
// BMP decoding into graphics-output pixels. The bitmaps come from firmware
// files and are treated as untrusted: nothing outside the given file is read
// and nothing outside the pixel array is written.
#pragma once
#include "efi/efi.h"

// Largest pixel array the decoder will produce or accept (64 MiB); a bitmap
// whose width x height x 4 goes beyond it is refused as unsupported.
#define BMP_MAX_BLT_SIZE 0x4000000ULL

// Decodes Bmp (BmpSize bytes, 1/4/8/24 bits per pixel, uncompressed, stored
// bottom row first) into *Blt, top row first. With *Blt null the array is
// allocated here from boot-services pool and the caller frees it; otherwise
// *BltSize is the caller array's size and a too small array gives
// EFI_BUFFER_TOO_SMALL with *BltSize set to the size needed.
EFI_STATUS BmpToBltBuffer(const VOID *Bmp, UINTN BmpSize, EFI_GRAPHICS_OUTPUT_BLT_PIXEL **Blt, UINTN *BltSize, UINTN *Height, UINTN *Width);
