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
EFI_STATUS CheckLayout(const UINT8 *file, UINTN fileSize, UINT64 width, UINT64 height, BMP_LAYOUT *layout) {
  UINT32 bpp = ReadLe16(file + OFFSET_BITS_PER_PIXEL);
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24) return EFI_UNSUPPORTED;
  layout->BitsPerPixel = bpp;

  layout->Colours = 0;
  if (bpp <= 8) {
    // A colour count of 0 means the full table; more than the depth can
    // address is never looked at.
    UINT64 full = 1ULL << bpp;
    UINT64 used = ReadLe32(file + OFFSET_COLOURS_USED);
    layout->Colours = (used == 0 || used > full) ? full : used;
    if (COLOUR_TABLE_OFFSET + layout->Colours * 4 > fileSize) return EFI_INVALID_PARAMETER;
  }

  UINT64 bits, rowBytes, stride, pixelBytes, end;
  if (__builtin_mul_overflow(width, (UINT64)bpp, &bits)) return EFI_UNSUPPORTED;
  rowBytes = bits / 8 + ((bits % 8) != 0);
  if (__builtin_add_overflow(rowBytes, 3ULL, &stride)) return EFI_UNSUPPORTED;
  stride &= ~3ULL;
  if (__builtin_mul_overflow(stride, height, &pixelBytes)) return EFI_UNSUPPORTED;
  layout->PixelData = ReadLe32(file + OFFSET_PIXEL_DATA);
  layout->RowStride = stride;
  if (__builtin_add_overflow(layout->PixelData, pixelBytes, &end) || end > fileSize) return EFI_INVALID_PARAMETER;
  return EFI_SUCCESS;
}

// Converts the stored rows, bottom row first in the file, into the array top
// row first. Only the colour bytes of each output pixel are written.
EFI_STATUS DecodeRows(const UINT8 *file, const BMP_LAYOUT &layout, UINT64 width, UINT64 height, EFI_GRAPHICS_OUTPUT_BLT_PIXEL *blt) {
  const UINT8 *table = file + COLOUR_TABLE_OFFSET;
  for (UINT64 r = 0; r < height; r++) {
    const UINT8 *row = file + layout.PixelData + r * layout.RowStride;
    EFI_GRAPHICS_OUTPUT_BLT_PIXEL *out = blt + (height - 1 - r) * width;
    for (UINT64 x = 0; x < width; x++) {
      if (layout.BitsPerPixel == 24) {
        out[x].Blue = row[x * 3];
        out[x].Green = row[x * 3 + 1];
        out[x].Red = row[x * 3 + 2];
        continue;
      }
      UINT32 index;
      if (layout.BitsPerPixel == 8)
        index = row[x];
      else if (layout.BitsPerPixel == 4)
        index = (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
      else
        index = (row[x >> 3] >> (7 - (x & 7))) & 1;
      // An index past a short colour table would read whatever follows it.
      if (index >= layout.Colours) return EFI_INVALID_PARAMETER;
      out[x].Blue = table[index * 4];
      out[x].Green = table[index * 4 + 1];
      out[x].Red = table[index * 4 + 2];
    }
  }
  return EFI_SUCCESS;
}

}  // namespace

EFI_STATUS BmpToBltBuffer(const VOID *Bmp, UINTN BmpSize, EFI_GRAPHICS_OUTPUT_BLT_PIXEL **Blt, UINTN *BltSize, UINTN *Height, UINTN *Width) {
  if (Bmp == nullptr || Blt == nullptr || BltSize == nullptr || Height == nullptr || Width == nullptr) return EFI_INVALID_PARAMETER;
  const UINT8 *file = (const UINT8 *)Bmp;
  if (BmpSize < 2) return EFI_INVALID_PARAMETER;
  if (file[0] != 'B' || file[1] != 'M') return EFI_UNSUPPORTED;
  if (BmpSize < HEADER_SIZE) return EFI_INVALID_PARAMETER;
  if (ReadLe32(file + OFFSET_COMPRESSION) != 0) return EFI_UNSUPPORTED;

  // Top-down bitmaps (negative height) are not supported; read unsigned they
  // would be a huge row count.
  INT32 signedHeight = (INT32)ReadLe32(file + OFFSET_HEIGHT);
  if (signedHeight < 0) return EFI_UNSUPPORTED;
  UINT64 width = ReadLe32(file + OFFSET_WIDTH);
  UINT64 height = (UINT64)signedHeight;

  UINT64 pixels, needed;
  if (__builtin_mul_overflow(width, height, &pixels) || __builtin_mul_overflow(pixels, (UINT64)sizeof(EFI_GRAPHICS_OUTPUT_BLT_PIXEL), &needed) ||
      needed > BMP_MAX_BLT_SIZE)
    return EFI_UNSUPPORTED;

  // An empty bitmap has nothing to read, so its depth and layout do not matter.
  BMP_LAYOUT layout = {};
  if (needed != 0) {
    EFI_STATUS status = CheckLayout(file, BmpSize, width, height, &layout);
    if (EFI_ERROR(status)) return status;
  }

  BOOLEAN allocated = 0;
  if (*Blt == nullptr) {
    *BltSize = needed;
    VOID *array = nullptr;
    if (EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, needed, &array)) || array == nullptr) return EFI_OUT_OF_RESOURCES;
    *Blt = (EFI_GRAPHICS_OUTPUT_BLT_PIXEL *)array;
    allocated = 1;
  } else if (*BltSize < needed) {
    *BltSize = needed;
    return EFI_BUFFER_TOO_SMALL;
  }

  *Height = height;
  *Width = width;
  if (needed == 0) return EFI_SUCCESS;

  EFI_STATUS status = DecodeRows(file, layout, width, height, *Blt);
  if (EFI_ERROR(status) && allocated) {
    gBS->FreePool(*Blt);
    *Blt = nullptr;
  }
  return status;
}
