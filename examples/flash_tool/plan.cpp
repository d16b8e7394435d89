// SPDX-License-Identifier: BSD-2-Clause-Patent
// The plan the host writes for a boot of the demo tool: what to do, which
// drivers the volume holds, by firmware file name and image name, and the
// first picture file.
#include "examples/flash_tool/demo.h"

static BOOLEAN StartsWith(const CHAR8 *Text, const CHAR8 *Word) {
  while (*Word && *Text == *Word) Text++, Word++;
  return *Word == 0;
}

static INT32 HexValue(CHAR8 c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

BOOLEAN DemoParseGuid(const CHAR8 *Text, EFI_GUID *Guid) {
  // Registry form: the first three groups are stored little-endian, the last
  // two as the bytes they spell.
  static const UINT8 Groups[] = {8, 4, 4, 4, 12};
  UINT8 bytes[16];
  UINTN at = 0, n = 0;
  for (UINTN g = 0; g < 5; g++) {
    if (g > 0 && Text[at++] != '-') return 0;
    for (UINTN i = 0; i < Groups[g]; i += 2) {
      INT32 hi = HexValue(Text[at]);
      INT32 lo = hi < 0 ? -1 : HexValue(Text[at + 1]);
      if (lo < 0) return 0;
      bytes[n++] = (UINT8)(hi << 4 | lo);
      at += 2;
    }
  }
  Guid->Data1 = (UINT32)bytes[0] << 24 | (UINT32)bytes[1] << 16 | (UINT32)bytes[2] << 8 | bytes[3];
  Guid->Data2 = (UINT16)(bytes[4] << 8 | bytes[5]);
  Guid->Data3 = (UINT16)(bytes[6] << 8 | bytes[7]);
  for (UINTN i = 0; i < 8; i++) Guid->Data4[i] = bytes[8 + i];
  return 1;
}

EFI_STATUS DemoParsePlan(const CHAR8 *Text, UINTN Size, DemoPlan *Plan) {
  *Plan = {};
  UINTN line = 0;
  for (UINTN at = 0; at < Size;) {
    UINTN end = at;
    while (end < Size && Text[end] != '\n') end++;
    UINTN length = end - at;
    if (line == 0) {
      UINTN n = 0;
      for (; n < length && n + 1 < sizeof Plan->Mode && Text[at + n] > ' '; n++) Plan->Mode[n] = Text[at + n];
      Plan->Mode[n] = 0;
    } else if (length >= 9 + 36 && StartsWith(Text + at, "pictures ")) {
      Plan->HasPictureFile = DemoParseGuid(Text + at + 9, &Plan->PictureFile);
    } else if (length >= 38 && Text[at + 36] == ' ' && Plan->DriverCount < DEMO_MAX_DRIVERS) {
      DemoDriver *d = &Plan->Drivers[Plan->DriverCount];
      if (DemoParseGuid(Text + at, &d->File)) {
        UINTN n = 0;
        for (UINTN i = at + 37; i < end && Text[i] > ' ' && n + 1 < sizeof d->Name; i++) d->Name[n++] = Text[i];
        d->Name[n] = 0;
        if (n > 0) Plan->DriverCount++;
      }
    }
    line++;
    at = end + 1;
  }
  return Plan->Mode[0] ? EFI_SUCCESS : EFI_NOT_FOUND;
}
