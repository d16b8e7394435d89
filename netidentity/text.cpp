// The two bounded text routines the identity block is built with.
#include "netidentity/netidentity.h"

UINTN EFIAPI Utf16PrintBounded(CHAR16 *Buffer, UINTN BufferSize, const CHAR16 *Format, ...) {
  const UINTN capacity = BufferSize / sizeof(CHAR16);
  if (Buffer == nullptr || capacity == 0) return 0;
  UINTN n = 0;
  if (Format != nullptr) {
    EFI_VA_LIST args;
    EFI_VA_START(args, Format);
    for (const CHAR16 *f = Format; *f != 0 && n + 1 < capacity; f++) {
      if (f[0] == u'%' && f[1] == u's') {
        const CHAR16 *s = EFI_VA_ARG(args, const CHAR16 *);
        for (; s != nullptr && *s != 0 && n + 1 < capacity; s++) Buffer[n++] = *s;
        f++;
      } else if (f[0] == u'%' && f[1] == u'%') {
        Buffer[n++] = u'%';
        f++;
      } else {
        Buffer[n++] = *f;
      }
    }
    EFI_VA_END(args);
  }
  Buffer[n] = 0;
  return n;
}

EFI_STATUS Utf16ToAsciiBounded(const CHAR16 *Source, CHAR8 *Destination, UINTN DestMax) {
  if (Source == nullptr || Destination == nullptr || DestMax == 0) return EFI_INVALID_PARAMETER;
  UINTN length = 0;
  while (length < DestMax && Source[length] != 0) length++;
  if (length >= DestMax) return EFI_BUFFER_TOO_SMALL;
  // Source spans (length + 1) units, the destination (length + 1) bytes.
  const UINTN src = (UINTN)Source, srcEnd = src + (length + 1) * sizeof(CHAR16);
  const UINTN dst = (UINTN)Destination, dstEnd = dst + length + 1;
  if (src < dstEnd && dst < srcEnd) return EFI_ACCESS_DENIED;
  for (UINTN i = 0; i < length; i++) Destination[i] = (CHAR8)(Source[i] & 0xFF);
  Destination[length] = 0;
  return EFI_SUCCESS;
}
