// The few runtime pieces the compiler expects in a freestanding image: it
// emits calls to these even with -ffreestanding, and _fltused marks float use.
#include "efi/base.h"

extern "C" {

int _fltused = 0;

void *memset(void *dst, int value, UINTN n) {
  volatile UINT8 *d = (volatile UINT8 *)dst;  // volatile: keep clang from turning this loop back into memset
  while (n--) *d++ = (UINT8)value;
  return dst;
}

void *memcpy(void *dst, const void *src, UINTN n) {
  volatile UINT8 *d = (volatile UINT8 *)dst;
  const UINT8 *s = (const UINT8 *)src;
  while (n--) *d++ = *s++;
  return dst;
}

void *memmove(void *dst, const void *src, UINTN n) {
  volatile UINT8 *d = (volatile UINT8 *)dst;
  const UINT8 *s = (const UINT8 *)src;
  if (d < s) {
    while (n--) *d++ = *s++;
  } else {
    while (n--) d[n] = s[n];
  }
  return dst;
}

int memcmp(const void *a, const void *b, UINTN n) {
  const UINT8 *x = (const UINT8 *)a, *y = (const UINT8 *)b;
  for (; n; n--, x++, y++)
    if (*x != *y) return *x - *y;
  return 0;
}
}

// An absolute address in data, so that every image carries a base relocation
// directory even when its code is all RIP-relative: some loaders refuse an
// image without one instead of loading it where it was linked.
extern "C" __attribute__((used)) const void *const RuntimeRelocAnchor = &RuntimeRelocAnchor;
