// SPDX-License-Identifier: BSD-2-Clause-Patent
// BMP decoding for the run's pictures. The bitmap is untrusted input, so the
// whole layout (header, colour table, every padded row) is checked against
// the file size before a single pixel is read, and sizes are computed in 64
// bits with overflow checks.
#include "ui/bmp.h"

#include "ui/status_report.h"

namespace {

// The fixed header: 14-byte file header and 40-byte information header; the
// colour table follows it directly.
constexpr UINTN HEADER_SIZE = 54;
constexpr UINTN OFFSET_PIXEL_DATA = 10;
constexpr UINTN OFFSET_WIDTH = 18;
constexpr UINTN OFFSET_HEIGHT = 22;
constexpr UINTN OFFSET_BITS_PER_PIXEL = 28;
constexpr UINTN OFFSET_COMPRESSION = 30;
constexpr UINTN OFFSET_COLOURS_USED = 46;
constexpr UINTN COLOUR_TABLE_OFFSET = HEADER_SIZE;

struct BMP_LAYOUT {
  UINT32 BitsPerPixel;
  UINT64 PixelData;  // offset of the bottom row
  UINT64 RowStride;  // bytes per stored row, padded to 4
  UINT64 Colours;    // entries in the colour table (0 for 24 bits)
};

UINT16 ReadLe16(const UINT8 *p) { return (UINT16)(p[0] | (p[1] << 8)); }
UINT32 ReadLe32(const UINT8 *p) { return (UINT32)p[0] | ((UINT32)p[1] << 8) | ((UINT32)p[2] << 16) | ((UINT32)p[3] << 24); }

// Works out where the colour table and the rows lie and refuses a file they
// do not fit in. Only called for a bitmap with at least one pixel.
EFI_STATUS CheckLayout(const UINT8 *File, UINTN FileSize, UINT64 Width, UINT64 Height, BMP_LAYOUT *Layout) {
  UINT32 Bpp = ReadLe16(File + OFFSET_BITS_PER_PIXEL);
  if (Bpp != 1 && Bpp != 4 && Bpp != 8 && Bpp != 24) return EFI_UNSUPPORTED;
  Layout->BitsPerPixel = Bpp;

  Layout->Colours = 0;
  if (Bpp <= 8) {
    // A colour count of 0 means the full table; more than the depth can
    // address is never looked at.
    UINT64 Full = 1ULL << Bpp;
    UINT64 Used = ReadLe32(File + OFFSET_COLOURS_USED);
    Layout->Colours = (Used == 0 || Used > Full) ? Full : Used;
    if (COLOUR_TABLE_OFFSET + Layout->Colours * 4 > FileSize) return EFI_INVALID_PARAMETER;
  }

  UINT64 Bits, RowBytes, Stride, PixelBytes, End;
  if (__builtin_mul_overflow(Width, (UINT64)Bpp, &Bits)) return EFI_UNSUPPORTED;
  RowBytes = Bits / 8 + ((Bits % 8) != 0);
  if (__builtin_add_overflow(RowBytes, 3ULL, &Stride)) return EFI_UNSUPPORTED;
  Stride &= ~3ULL;
  if (__builtin_mul_overflow(Stride, Height, &PixelBytes)) return EFI_UNSUPPORTED;
  Layout->PixelData = ReadLe32(File + OFFSET_PIXEL_DATA);
  Layout->RowStride = Stride;
  if (__builtin_add_overflow(Layout->PixelData, PixelBytes, &End) || End > FileSize) return EFI_INVALID_PARAMETER;
  return EFI_SUCCESS;
}

// Converts the stored rows, bottom row first in the file, into the array top
// row first. Only the colour bytes of each output pixel are written.
EFI_STATUS DecodeRows(const UINT8 *File, const BMP_LAYOUT &Layout, UINT64 Width, UINT64 Height, EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Blt) {
  const UINT8 *Table = File + COLOUR_TABLE_OFFSET;
  for (UINT64 r = 0; r < Height; r++) {
    const UINT8 *Row = File + Layout.PixelData + r * Layout.RowStride;
    EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Out = Blt + (Height - 1 - r) * Width;
    for (UINT64 x = 0; x < Width; x++) {
      if (Layout.BitsPerPixel == 24) {
        Out[x].Blue = Row[x * 3];
        Out[x].Green = Row[x * 3 + 1];
        Out[x].Red = Row[x * 3 + 2];
        continue;
      }
      UINT32 Index;
      if (Layout.BitsPerPixel == 8)
        Index = Row[x];
      else if (Layout.BitsPerPixel == 4)
        Index = (x & 1) ? (Row[x >> 1] & 0x0F) : (Row[x >> 1] >> 4);
      else
        Index = (Row[x >> 3] >> (7 - (x & 7))) & 1;
      // An index past a short colour table would read whatever follows it.
      if (Index >= Layout.Colours) return EFI_INVALID_PARAMETER;
      Out[x].Blue = Table[Index * 4];
      Out[x].Green = Table[Index * 4 + 1];
      Out[x].Red = Table[Index * 4 + 2];
    }
  }
  return EFI_SUCCESS;
}

}  // namespace

EFI_STATUS BmpToBltBuffer(const VOID *Bmp, UINTN BmpSize, EFI_GRAPHICS_OUTPUT_BLT_PIXEL **Blt, UINTN *BltSize, UINTN *Height,
                          UINTN *Width) {
  if (Bmp == nullptr || Blt == nullptr || BltSize == nullptr || Height == nullptr || Width == nullptr) return EFI_INVALID_PARAMETER;
  const UINT8 *File = (const UINT8 *)Bmp;
  if (BmpSize < 2) return EFI_INVALID_PARAMETER;
  if (File[0] != 'B' || File[1] != 'M') return EFI_UNSUPPORTED;
  if (BmpSize < HEADER_SIZE) return EFI_INVALID_PARAMETER;
  if (ReadLe32(File + OFFSET_COMPRESSION) != 0) return EFI_UNSUPPORTED;

  // Top-down bitmaps (negative height) are not supported; read unsigned they
  // would be a huge row count.
  INT32 SignedHeight = (INT32)ReadLe32(File + OFFSET_HEIGHT);
  if (SignedHeight < 0) return EFI_UNSUPPORTED;
  UINT64 BmpWidth = ReadLe32(File + OFFSET_WIDTH);
  UINT64 BmpHeight = (UINT64)SignedHeight;

  UINT64 Pixels, Needed;
  if (__builtin_mul_overflow(BmpWidth, BmpHeight, &Pixels) ||
      __builtin_mul_overflow(Pixels, (UINT64)sizeof(EFI_GRAPHICS_OUTPUT_BLT_PIXEL), &Needed) || Needed > BMP_MAX_BLT_SIZE)
    return EFI_UNSUPPORTED;

  // An empty bitmap has nothing to read, so its depth and layout do not matter.
  BMP_LAYOUT Layout = {};
  if (Needed != 0) {
    EFI_STATUS Status = CheckLayout(File, BmpSize, BmpWidth, BmpHeight, &Layout);
    if (EFI_ERROR(Status)) return Status;
  }

  BOOLEAN Allocated = 0;
  if (*Blt == nullptr) {
    *BltSize = Needed;
    VOID *Array = nullptr;
    if (EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, Needed, &Array)) || Array == nullptr) return EFI_OUT_OF_RESOURCES;
    *Blt = (EFI_GRAPHICS_OUTPUT_BLT_PIXEL *)Array;
    Allocated = 1;
  } else if (*BltSize < Needed) {
    *BltSize = Needed;
    return EFI_BUFFER_TOO_SMALL;
  }

  *Height = BmpHeight;
  *Width = BmpWidth;
  if (Needed == 0) return EFI_SUCCESS;

  EFI_STATUS Status = DecodeRows(File, Layout, BmpWidth, BmpHeight, *Blt);
  if (EFI_ERROR(Status) && Allocated) {
    gBS->FreePool(*Blt);
    *Blt = nullptr;
  }
  return Status;
}
