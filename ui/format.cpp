// SPDX-License-Identifier: BSD-2-Clause-Patent
// The UI's text formatter. Output is cut, never overrun: every copy checks the
// room left, so a caller's fixed buffer of any size of at least 2 bytes is safe.
#include "ui/format.h"
#include "ui/status_report.h"

namespace {

const CHAR16 HexDigits[] = u"0123456789ABCDEF";
const CHAR8 NullString[] = "<null string>";

struct STATUS_NAME {
  EFI_STATUS Status;
  const CHAR8 *Name;
};

const STATUS_NAME StatusNames[] = {
    {EFI_SUCCESS, "Success"},
    {EFI_WARN_UNKNOWN_GLYPH, "Warning Unknown Glyph"},
    {EFI_WARN_DELETE_FAILURE, "Warning Delete Failure"},
    {EFI_WARN_WRITE_FAILURE, "Warning Write Failure"},
    {EFI_WARN_BUFFER_TOO_SMALL, "Warning Buffer Too Small"},
    {EFI_LOAD_ERROR, "Load Error"},
    {EFI_INVALID_PARAMETER, "Invalid Parameter"},
    {EFI_UNSUPPORTED, "Unsupported"},
    {EFI_BAD_BUFFER_SIZE, "Bad Buffer Size"},
    {EFI_BUFFER_TOO_SMALL, "Buffer Too Small"},
    {EFI_NOT_READY, "Not Ready"},
    {EFI_DEVICE_ERROR, "Device Error"},
    {EFI_WRITE_PROTECTED, "Write Protected"},
    {EFI_OUT_OF_RESOURCES, "Out of Resources"},
    {EFI_VOLUME_CORRUPTED, "Volume Corrupt"},
    {EFI_VOLUME_FULL, "Volume Full"},
    {EFI_NO_MEDIA, "No Media"},
    {EFI_MEDIA_CHANGED, "Media changed"},
    {EFI_NOT_FOUND, "Not Found"},
    {EFI_ACCESS_DENIED, "Access Denied"},
    {EFI_NO_RESPONSE, "No Response"},
    {EFI_NO_MAPPING, "No mapping"},
    {EFI_TIMEOUT, "Time out"},
    {EFI_NOT_STARTED, "Not started"},
    {EFI_ALREADY_STARTED, "Already started"},
    {EFI_ABORTED, "Aborted"},
    {EFI_ICMP_ERROR, "ICMP Error"},
    {EFI_TFTP_ERROR, "TFTP Error"},
    {EFI_PROTOCOL_ERROR, "Protocol Error"},
};

// Output position in the caller's buffer; Limit leaves room for the terminator.
struct OUTPUT {
  CHAR16 *Buffer;
  UINTN Count;
  UINTN Limit;  // MaxChars - 1

  bool Room() const { return Count < Limit; }
  void Put(CHAR16 Ch) {
    if (Room()) Buffer[Count++] = Ch;
  }
  // Bytes left for a nested format that writes its own terminator here.
  UINTN RestBytes() const { return (Limit + 1 - Count) * sizeof(CHAR16); }
};

CHAR16 Widen(CHAR8 Ch) { return (CHAR16)(UINT8)Ch; }
CHAR16 Widen(CHAR16 Ch) { return Ch; }

// A string argument, left-aligned and padded with blanks up to Width; never cut
// except by the end of the buffer.
template <typename CHAR>
void PutString(OUTPUT &Out, const CHAR *Text, UINTN Width) {
  UINTN Length = 0;
  for (; Text[Length] != 0; Length++) {
    if (!Out.Room()) return;
    Out.Put(Widen(Text[Length]));
  }
  for (; Length < Width && Out.Room(); Length++) Out.Put(u' ');
}

void PutNumber(OUTPUT &Out, const CHAR16 *Digits) {
  for (; *Digits != 0 && Out.Room(); Digits++) Out.Put(*Digits);
}

// Writes Count characters of Reversed (least significant first) most significant first.
UINTN EmitReversed(CHAR16 *Buffer, const CHAR16 *Reversed, UINTN Count) {
  for (UINTN Index = 0; Index < Count; Index++) Buffer[Index] = Reversed[Count - 1 - Index];
  Buffer[Count] = 0;
  return Count;
}

// Fill, then the width cut that keeps the least significant end.
UINTN FitWidth(CHAR16 *Reversed, UINTN Count, UINTN Flags, UINTN Width, CHAR16 Fill) {
  if ((Flags & FORMAT_LEFT_JUSTIFY) == 0) {
    while (Count < Width) Reversed[Count++] = Fill;
  }
  if (Width != 0 && Count > Width) Count = Width;
  return Count;
}

UINTN SaturatingDecimal(UINTN Value, CHAR16 Digit) {
  UINTN Next;
  if (__builtin_mul_overflow(Value, 10, &Next) || __builtin_add_overflow(Next, (UINTN)(Digit - u'0'), &Next)) return ~(UINTN)0;
  return Next;
}

}  // namespace

UINTN ValueToHexString(CHAR16 *Buffer, UINT64 Value, UINTN Flags, UINTN Width) {
  CHAR16 Reversed[32];
  UINTN Count = 0;
  if (Width > FORMAT_MAX_WIDTH) Width = FORMAT_MAX_WIDTH;
  do {
    Reversed[Count++] = HexDigits[Value & 0xF];
    Value >>= 4;
  } while (Value != 0);
  Count = FitWidth(Reversed, Count, Flags, Width, (Flags & FORMAT_PREFIX_ZERO) ? u'0' : u' ');
  return EmitReversed(Buffer, Reversed, Count);
}

UINTN ValueToDecimalString(CHAR16 *Buffer, INT64 Value, UINTN Flags, UINTN Width) {
  CHAR16 Reversed[32];
  UINTN Count = 0;
  UINTN Digits = 0;
  if (Width > FORMAT_MAX_WIDTH) Width = FORMAT_MAX_WIDTH;
  bool Negative = Value < 0;
  // The magnitude in unsigned arithmetic, so the most negative value prints too.
  UINT64 Magnitude = Negative ? 0 - (UINT64)Value : (UINT64)Value;
  do {
    Reversed[Count++] = (CHAR16)(u'0' + Magnitude % 10);
    Magnitude /= 10;
    Digits++;
    if ((Flags & FORMAT_COMMA) && Digits % 3 == 0 && Magnitude != 0) Reversed[Count++] = u',';
  } while (Magnitude != 0);
  if (Negative) Reversed[Count++] = u'-';
  Count = FitWidth(Reversed, Count, Flags, Width, ((Flags & FORMAT_PREFIX_ZERO) && !Negative) ? u'0' : u' ');
  return EmitReversed(Buffer, Reversed, Count);
}

UINTN FormatStringV(CHAR16 *Buffer, UINTN BufferSize, const CHAR16 *Format, EFI_VA_LIST Args) {
  // No room for even the terminator: nothing can be written safely.
  if (Buffer == nullptr || BufferSize < sizeof(CHAR16)) return 0;
  OUTPUT Out = {Buffer, 0, BufferSize / sizeof(CHAR16) - 1};
  if (Format == nullptr) Format = u"";

  while (*Format != 0 && Out.Room()) {
    CHAR16 Ch = *Format++;
    if (Ch != u'%') {
      if (Ch == u'\n' && Out.Count + 1 < Out.Limit) Out.Put(u'\r');
      Out.Put(Ch);
      continue;
    }

    // Flags and width, in any order, until the conversion character.
    UINTN Flags = 0;
    UINTN Width = 0;
    for (;; Format++) {
      Ch = *Format;
      if (Ch == u'-') {
        Flags |= FORMAT_LEFT_JUSTIFY;
      } else if (Ch == u'+') {
        Flags |= FORMAT_PLUS;
      } else if (Ch == u' ') {
        Flags |= FORMAT_BLANK;
      } else if (Ch == u',') {
        Flags |= FORMAT_COMMA;
      } else if (Ch == u'l' || Ch == u'L') {
        Flags |= FORMAT_LONG;
      } else if (Ch == u'*') {
        Width = EFI_VA_ARG(Args, UINT64);
      } else if (Ch >= u'0' && Ch <= u'9') {
        if (Ch == u'0') Flags |= FORMAT_PREFIX_ZERO;
        Width = 0;
        for (; *Format >= u'0' && *Format <= u'9'; Format++) Width = SaturatingDecimal(Width, *Format);
        Format--;
      } else {
        break;
      }
    }
    if (Ch == 0) break;  // the format ended inside a directive
    Format++;

    CHAR16 Number[FORMAT_NUMBER_CHARS];
    switch (Ch) {
      case u's':
      case u'S': {
        const CHAR16 *Text = EFI_VA_ARG(Args, const CHAR16 *);
        if (Text == nullptr)
          PutString(Out, NullString, Width);
        else
          PutString(Out, Text, Width);
        break;
      }
      case u'a': {
        const CHAR8 *Text = EFI_VA_ARG(Args, const CHAR8 *);
        PutString(Out, Text != nullptr ? Text : NullString, Width);
        break;
      }
      case u'c':
        Out.Put((CHAR16)(EFI_VA_ARG(Args, UINT64) & 0xFFFF));
        break;
      case u'd':
        ValueToDecimalString(Number, (INT64)EFI_VA_ARG(Args, UINT64), Flags, Width);
        PutNumber(Out, Number);
        break;
      case u'x':
        ValueToHexString(Number, EFI_VA_ARG(Args, UINT64), Flags, Width);
        PutNumber(Out, Number);
        break;
      case u'X':
        ValueToHexString(Number, EFI_VA_ARG(Args, UINT64), Flags | FORMAT_PREFIX_ZERO, 16);
        PutNumber(Out, Number);
        break;
      case u'g': {
        const EFI_GUID *Guid = EFI_VA_ARG(Args, const EFI_GUID *);
        if (Guid != nullptr) Out.Count += FormatGuid(Guid, Buffer + Out.Count, Out.RestBytes());
        break;
      }
      case u't': {
        const EFI_TIME *Time = EFI_VA_ARG(Args, const EFI_TIME *);
        if (Time == nullptr) break;  // nothing to show, and the pointer is not read
        UINTN Written = FormatString(Buffer + Out.Count, Out.RestBytes(), u"%02d/%02d/%04d  %02d:%02d", (UINT64)Time->Month,
                                     (UINT64)Time->Day, (UINT64)Time->Year, (UINT64)Time->Hour, (UINT64)Time->Minute);
        if (Written != 0) Out.Count += Written - 1;
        break;
      }
      case u'r':
        Out.Count += FormatStatus(EFI_VA_ARG(Args, EFI_STATUS), Buffer + Out.Count, Out.RestBytes());
        break;
      default:  // "%%" and unknown conversions stand for themselves
        Out.Put(Ch);
        break;
    }
  }

  Buffer[Out.Count] = 0;
  return Out.Count + 1;
}

UINTN EFIAPI FormatString(CHAR16 *Buffer, UINTN BufferSize, const CHAR16 *Format, ...) {
  EFI_VA_LIST Args;
  EFI_VA_START(Args, Format);
  UINTN Count = FormatStringV(Buffer, BufferSize, Format, Args);
  EFI_VA_END(Args);
  return Count;
}

UINTN FormatGuid(const EFI_GUID *Guid, CHAR16 *Buffer, UINTN BufferSize) {
  if (Guid == nullptr) return 0;
  const UINT8 *Node = Guid->Data4;
  UINTN Count = FormatString(Buffer, BufferSize, u"%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", (UINT64)Guid->Data1,
                             (UINT64)Guid->Data2, (UINT64)Guid->Data3, (UINT64)Node[0], (UINT64)Node[1], (UINT64)Node[2], (UINT64)Node[3],
                             (UINT64)Node[4], (UINT64)Node[5], (UINT64)Node[6], (UINT64)Node[7]);
  return Count != 0 ? Count - 1 : 0;
}

const CHAR8 *StatusName(EFI_STATUS Status) {
  for (const STATUS_NAME &Entry : StatusNames)
    if (Entry.Status == Status) return Entry.Name;
  return nullptr;
}

UINTN FormatStatus(EFI_STATUS Status, CHAR16 *Buffer, UINTN BufferSize) {
  const CHAR8 *Name = StatusName(Status);
  UINTN Count = Name != nullptr ? FormatString(Buffer, BufferSize, u"%a", Name) : FormatString(Buffer, BufferSize, u"%X", (UINT64)Status);
  return Count != 0 ? Count - 1 : 0;
}

UINTN EFIAPI ConsolePrint(const CHAR16 *Format, ...) {
  CHAR16 Text[FORMAT_PRINT_BUFFER_SIZE / sizeof(CHAR16)];
  EFI_VA_LIST Args;
  EFI_VA_START(Args, Format);
  UINTN Count = FormatStringV(Text, sizeof(Text), Format, Args);
  EFI_VA_END(Args);
  if (gST != nullptr && gST->ConOut != nullptr) gST->ConOut->OutputString(gST->ConOut, Text);
  return Count;
}
