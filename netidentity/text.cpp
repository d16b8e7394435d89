// SPDX-License-Identifier: BSD-2-Clause-Patent
// The two bounded text routines the identity block is built with.
#include "netidentity/netidentity.h"

UINTN EFIAPI Utf16PrintBounded(CHAR16 *Buffer, UINTN BufferSize, const CHAR16 *Format, ...) {
  const UINTN Capacity = BufferSize / sizeof(CHAR16);
  if (Buffer == nullptr || Capacity == 0) return 0;
  UINTN n = 0;
  if (Format != nullptr) {
    EFI_VA_LIST Args;
    EFI_VA_START(Args, Format);
    for (const CHAR16 *f = Format; *f != 0 && n + 1 < Capacity; f++) {
      if (f[0] == u'%' && f[1] == u's') {
        const CHAR16 *s = EFI_VA_ARG(Args, const CHAR16 *);
        for (; s != nullptr && *s != 0 && n + 1 < Capacity; s++) Buffer[n++] = *s;
        f++;
      } else if (f[0] == u'%' && f[1] == u'%') {
        Buffer[n++] = u'%';
        f++;
      } else {
        Buffer[n++] = *f;
      }
    }
    EFI_VA_END(Args);
  }
  Buffer[n] = 0;
  return n;
}

EFI_STATUS Utf16ToAsciiBounded(const CHAR16 *Source, CHAR8 *Destination, UINTN DestMax) {
  if (Source == nullptr || Destination == nullptr || DestMax == 0) return EFI_INVALID_PARAMETER;
  UINTN Length = 0;
  while (Length < DestMax && Source[Length] != 0) Length++;
  if (Length >= DestMax) return EFI_BUFFER_TOO_SMALL;
  // Source spans (length + 1) units, the destination (length + 1) bytes.
  const UINTN Src = (UINTN)Source, SrcEnd = Src + (Length + 1) * sizeof(CHAR16);
  const UINTN Dst = (UINTN)Destination, DstEnd = Dst + Length + 1;
  if (Src < DstEnd && Dst < SrcEnd) return EFI_ACCESS_DENIED;
  for (UINTN i = 0; i < Length; i++) Destination[i] = (CHAR8)(Source[i] & 0xFF);
  Destination[Length] = 0;
  return EFI_SUCCESS;
}
