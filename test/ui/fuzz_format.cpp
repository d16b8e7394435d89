// SPDX-License-Identifier: BSD-2-Clause-Patent
// Random format strings and arguments through the formatter, into an exact-size
// heap buffer: no read or write outside it, always terminated, count in range.
// Every argument slot is null or points at a readable block, because a
// directive may take any slot as a pointer.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "ui/format.h"

namespace {

constexpr size_t kBlocks = 4;
constexpr size_t kBlockBytes = 64;
constexpr size_t kMaxFormat = 256;
alignas(8) UINT8 Blocks[kBlocks][kBlockBytes];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size < 3) return 0;
  UINTN BufferSize = 2 + ((Data[0] | (Data[1] << 8)) % 1024);
  size_t FormatLength = Data[2];
  Data += 3;
  Size -= 3;
  if (FormatLength > Size) FormatLength = Size;
  if (FormatLength > kMaxFormat) FormatLength = kMaxFormat;

  // The format: each byte widened; a byte 0xFF followed by one more makes a wide character.
  CHAR16 Format[kMaxFormat + 1];
  size_t Length = 0;
  for (size_t i = 0; i < FormatLength; i++) {
    CHAR16 Ch = Data[i];
    if (Ch == 0xFF && i + 1 < FormatLength) Ch = (CHAR16)(0x2500 + Data[++i]);
    if (Ch == 0) Ch = u'%';
    Format[Length++] = Ch;
  }
  Format[Length] = 0;
  Data += FormatLength;
  Size -= FormatLength;

  // Blocks get the next bytes, each ending in zeros so it is a string either way.
  for (size_t b = 0; b < kBlocks; b++) {
    memset(Blocks[b], 0, kBlockBytes);
    size_t Take = Size < kBlockBytes - 4 ? Size : kBlockBytes - 4;
    memcpy(Blocks[b], Data, Take);
    Data += Take;
    Size -= Take;
  }

  // One slot per format character at most, so the list is never read past its end.
  UINT64 Slots[kMaxFormat + 1];
  for (size_t i = 0; i <= kMaxFormat; i++) {
    UINT8 Pick = i < Size ? Data[i] : 0;
    Slots[i] = Pick % 5 == 0 ? 0 : (UINT64)(uintptr_t)Blocks[Pick % kBlocks];
  }

  CHAR16 *Buffer = static_cast<CHAR16 *>(malloc(BufferSize));
  // A Microsoft va_list is a pointer to consecutive 64-bit slots.
  EFI_VA_LIST Args = (EFI_VA_LIST)(void *)Slots;
  UINTN Count = FormatStringV(Buffer, BufferSize, Format, Args);
  UINTN MaxChars = BufferSize / 2;
  if (Count < 1 || Count > MaxChars || Buffer[Count - 1] != 0) __builtin_trap();
  free(Buffer);
  return 0;
}
