// SPDX-License-Identifier: BSD-2-Clause-Patent
// Every buffer size from 2 to 700 bytes: nothing is written past the buffer,
// the text is always terminated, and it is the start of the uncut text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "format_support.h"

using uitest::Ascii;
using uitest::Slot;

namespace {

template <typename... A>
void CheckEverySize(const char16_t *Fmt, bool PrefixHolds, A... Args) {
  std::vector<CHAR16> Full(1024);
  UINTN FullCount = FormatString(Full.data(), Full.size() * 2, Fmt, Slot(Args)...);
  std::u16string Whole(Full.data());
  ASSERT_EQ(FullCount, Whole.size() + 1);
  ASSERT_GT(Whole.size(), 340u) << "the format must overflow the larger buffers too";

  for (UINTN Size = 2; Size <= 700; Size++) {
    SCOPED_TRACE(Size);
    // Exactly Size bytes on the heap, so the sanitizer sees any overrun.
    CHAR16 *Buffer = static_cast<CHAR16 *>(malloc(Size));
    memset(Buffer, 0xA5, Size);
    UINTN Count = FormatString(Buffer, Size, Fmt, Slot(Args)...);
    UINTN MaxChars = Size / 2;
    ASSERT_GE(Count, 1u);
    ASSERT_LE(Count, MaxChars);
    ASSERT_EQ(Buffer[Count - 1], 0);
    std::u16string Got(Buffer, Count - 1);
    if (PrefixHolds) {
      ASSERT_EQ(Got, Whole.substr(0, Got.size()));
      // The cut is at the buffer's end: it is full unless the whole text fit.
      ASSERT_EQ(Got.size(), std::min<size_t>(Whole.size(), MaxChars - 1));
    }
    free(Buffer);
  }
}

TEST(FormatBounds, DirectivesOfEveryKind) {
  EFI_GUID Guid = EFI_LOADED_IMAGE_PROTOCOL_GUID;
  EFI_TIME Time = {1999, 12, 31, 23, 59, 58, 0, 0, 0, 0, 0};
  std::u16string Long(120, u'w');
  CheckEverySize(u"%s|%a|%,d|%08x|%X|%g|%t|%r|%r|%c|%-5d|%*s|%s|%g|%t|%r|%%|%5x|%d", true, u"wide string", "narrow string",
                 (INT64)-1234567890123LL, 0xBEEFULL, 0xFEEDULL, &Guid, &Time, EFI_BUFFER_TOO_SMALL, 0x8000000000000042ULL, 'Q', 7, 40,
                 u"pad", Long.c_str(), &Guid, &Time, EFI_WARN_BUFFER_TOO_SMALL, 0xABCDEFULL, INT64_MIN);
}

TEST(FormatBounds, PlainTextAndStatusesBackToBack) {
  CheckEverySize(u"%r, %r, %r, %r, %r, %r, %r, %r, %r, %r, %r, %r, %r, %r, %r, %r, %r, %r, %r, %r, %r, %r", true, EFI_OUT_OF_RESOURCES,
                 EFI_VOLUME_CORRUPTED, EFI_ACCESS_DENIED, EFI_WARN_DELETE_FAILURE, 0x1234ULL, EFI_PROTOCOL_ERROR, EFI_NOT_FOUND,
                 EFI_OUT_OF_RESOURCES, EFI_VOLUME_CORRUPTED, EFI_ACCESS_DENIED, EFI_WARN_DELETE_FAILURE, 0x1234ULL, EFI_PROTOCOL_ERROR,
                 EFI_NOT_FOUND, EFI_OUT_OF_RESOURCES, EFI_VOLUME_CORRUPTED, EFI_ACCESS_DENIED, EFI_WARN_DELETE_FAILURE, 0x1234ULL,
                 EFI_PROTOCOL_ERROR, EFI_NOT_FOUND, EFI_INVALID_PARAMETER);
}

TEST(FormatBounds, LineFeedsAtEveryPosition) {
  // A cut can fall between a carriage return and its line feed, so the text is
  // not always a prefix; it must still stay inside the buffer and end in 0.
  std::u16string Lines;
  for (int i = 0; i < 120; i++) Lines += u"ab\n";
  CheckEverySize(Lines.c_str(), false);
}

}  // namespace
