// SPDX-License-Identifier: BSD-2-Clause-Patent
// The UI's text formatter: CHAR16 text from a format string and 64-bit
// arguments, with status names, GUIDs and EFI_TIME dates. Every formatted
// write of the UI goes through it; it never allocates.
#pragma once
#include "efi/efi.h"

// Directive flags gathered between "%" and the conversion character.
#define FORMAT_LEFT_JUSTIFY 0x01  // "-": numbers get no fill at all
#define FORMAT_PLUS 0x02          // "+": accepted, no effect
#define FORMAT_BLANK 0x04         // " ": accepted, no effect
#define FORMAT_COMMA 0x08         // ",": %d groups digits by three
#define FORMAT_LONG 0x10          // "l"/"L": accepted, every argument is 64 bits
#define FORMAT_PREFIX_ZERO 0x20   // "0": numbers are padded with zeros

// Number conversions cap their width here and need this many characters of room.
#define FORMAT_MAX_WIDTH 29
#define FORMAT_NUMBER_CHARS 30

// The size of the buffer that window and console prints format into.
#define FORMAT_PRINT_BUFFER_SIZE 640

// Formats into Buffer (BufferSize bytes, at least 2): at most BufferSize / 2 - 1
// characters and a terminator. Every argument occupies one 64-bit slot, so
// callers widen integers to 64 bits. Returns the characters written plus one.
UINTN FormatStringV(CHAR16 *Buffer, UINTN BufferSize, const CHAR16 *Format, EFI_VA_LIST Args);
UINTN EFIAPI FormatString(CHAR16 *Buffer, UINTN BufferSize, const CHAR16 *Format, ...);

// A GUID in registry form, upper case. Returns the characters written.
UINTN FormatGuid(const EFI_GUID *Guid, CHAR16 *Buffer, UINTN BufferSize);
// A status by its name, or as 16 hexadecimal digits when it has none.
UINTN FormatStatus(EFI_STATUS Status, CHAR16 *Buffer, UINTN BufferSize);
// The ASCII name of a status, or null when it has none.
const CHAR8 *StatusName(EFI_STATUS Status);

// Number conversions into a buffer of at least FORMAT_NUMBER_CHARS characters;
// each writes a terminator and returns the characters written before it.
UINTN ValueToHexString(CHAR16 *Buffer, UINT64 Value, UINTN Flags, UINTN Width);
UINTN ValueToDecimalString(CHAR16 *Buffer, INT64 Value, UINTN Flags, UINTN Width);

// Formats into a 640-byte buffer and writes it to the system table's ConOut,
// when there is one. Returns the count of FormatStringV.
UINTN EFIAPI ConsolePrint(const CHAR16 *Format, ...);
