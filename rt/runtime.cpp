// SPDX-License-Identifier: BSD-2-Clause-Patent
// The few runtime pieces the compiler expects in a freestanding image: it
// emits calls to these even with -ffreestanding, and _fltused marks float use.
#include "efi/base.h"

extern "C" {

int _fltused = 0;

void *memset(void *Dst, int Value, UINTN n) {
  volatile UINT8 *d = (volatile UINT8 *)Dst;  // volatile: keep clang from turning this loop back into memset
  while (n--) *d++ = (UINT8)Value;
  return Dst;
}

void *memcpy(void *Dst, const void *Src, UINTN n) {
  volatile UINT8 *d = (volatile UINT8 *)Dst;
  const UINT8 *s = (const UINT8 *)Src;
  while (n--) *d++ = *s++;
  return Dst;
}

void *memmove(void *Dst, const void *Src, UINTN n) {
  volatile UINT8 *d = (volatile UINT8 *)Dst;
  const UINT8 *s = (const UINT8 *)Src;
  if (d < s) {
    while (n--) *d++ = *s++;
  } else {
    while (n--) d[n] = s[n];
  }
  return Dst;
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
