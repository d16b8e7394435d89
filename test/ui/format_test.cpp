// SPDX-License-Identifier: BSD-2-Clause-Patent
// The formatter's directives, flags, widths and cut-off rules.
#include <gtest/gtest.h>

#include "format_support.h"

using uitest::Ascii;
using uitest::F;
using uitest::Format;

namespace {

struct Case {
  const char16_t *Fmt;
  INT64 Value;
  const char *Expected;
};

void ExpectCases(const Case *Cases, size_t N) {
  for (size_t i = 0; i < N; i++) {
    SCOPED_TRACE(Ascii(Cases[i].Fmt));
    EXPECT_EQ(Ascii(F(Cases[i].Fmt, Cases[i].Value)), Cases[i].Expected);
  }
}

TEST(FormatNumbers, DecimalFlagsAndWidths) {
  const Case Cases[] = {
      {u"%,d", -1234567, "-1,234,567"},
      {u"%,d", 100, "100"},
      {u"%,d", 123456, "123,456"},
      {u"%,d", 1000, "1,000"},
      {u"%5d", 42, "   42"},
      {u"%05d", 42, "00042"},
      {u"%05d", -42, "  -42"},
      {u"%-5d", 42, "42"},
      {u"%-05d", 42, "42"},
      {u"%2d", -123, "23"},
      {u"%3d", -123, "123"},
      {u"%d", 0, "0"},
      {u"%d", INT64_MIN, "-9223372036854775808"},
      {u"%,d", INT64_MIN, "-9,223,372,036,854,775,808"},
      {u"%d", INT64_MAX, "9223372036854775807"},
      {u"%5,d", 1234, "1,234"},  // flags may follow the width
      {u"%ld", 7, "7"},
      {u"%+ d", 7, "7"},                              // accepted, no effect
      {u"%40d", 1, "                            1"},  // width capped at 29
      {u"%040d", 1, "00000000000000000000000000001"},
      {u"%10d", -5, "        -5"},
  };
  ExpectCases(Cases, sizeof(Cases) / sizeof(Cases[0]));
}

TEST(FormatNumbers, HexadecimalIsUpperCaseAndCutFromTheLeft) {
  const Case Cases[] = {
      {u"%x", 255, "FF"},
      {u"%X", 255, "00000000000000FF"},
      {u"%8x", 255, "      FF"},
      {u"%08x", 255, "000000FF"},
      {u"%-8x", 255, "FF"},
      {u"%-X", 255, "FF"},
      {u"%2x", 0x1234, "34"},
      {u"%x", 0, "0"},
      {u"%x", -1, "FFFFFFFFFFFFFFFF"},
      {u"%X", (INT64)0x8000000000000019ULL, "8000000000000019"},
      {u"%,x", 0x123456, "123456"},  // grouping is for %d only
  };
  ExpectCases(Cases, sizeof(Cases) / sizeof(Cases[0]));
}

TEST(FormatNumbers, WidthFromArgumentAndLeadingZero) {
  EXPECT_EQ(Ascii(F(u"%*d|%d", 6, 42, 7)), "    42|7");
  EXPECT_EQ(Ascii(F(u"%0*x", 4, 0xA)), "000A");
  EXPECT_EQ(Ascii(F(u"%10x", 0xABC)), "       ABC");
}

TEST(FormatNumbers, ConversionsAloneNeedThirtyCharacters) {
  // Exact-size heap buffers: the sanitizer reports any write past them.
  struct {
    UINT64 Value;
    UINTN Flags;
    UINTN Width;
    bool Decimal;
  } Cases[] = {
      {(UINT64)INT64_MIN, FORMAT_COMMA, 29, true},
      {(UINT64)INT64_MIN, FORMAT_COMMA, 0, true},
      {~0ULL, FORMAT_PREFIX_ZERO, 200, false},
      {(UINT64)INT64_MIN, FORMAT_COMMA | FORMAT_PREFIX_ZERO, 1000, true},
  };
  for (auto &C : Cases) {
    CHAR16 *Buffer = new CHAR16[FORMAT_NUMBER_CHARS];
    UINTN N =
        C.Decimal ? ValueToDecimalString(Buffer, (INT64)C.Value, C.Flags, C.Width) : ValueToHexString(Buffer, C.Value, C.Flags, C.Width);
    EXPECT_LT(N, (UINTN)FORMAT_NUMBER_CHARS);
    EXPECT_EQ(Buffer[N], 0);
    delete[] Buffer;
  }
  CHAR16 Out[FORMAT_NUMBER_CHARS];
  EXPECT_EQ(ValueToDecimalString(Out, INT64_MIN, FORMAT_COMMA, 0), 26u);
  EXPECT_EQ(Ascii(Out), "-9,223,372,036,854,775,808");
  EXPECT_EQ(ValueToDecimalString(Out, -7, FORMAT_PREFIX_ZERO, 4), 4u);
  EXPECT_EQ(Ascii(Out), "  -7");
  EXPECT_EQ(ValueToHexString(Out, 0xBEEF, 0, 2), 2u);
  EXPECT_EQ(Ascii(Out), "EF");
}

TEST(FormatText, StringsAreLeftAlignedAndNeverCut) {
  EXPECT_EQ(Ascii(F(u"%10s|", u"ab")), "ab        |");
  EXPECT_EQ(Ascii(F(u"%2s|", u"abcd")), "abcd|");
  EXPECT_EQ(Ascii(F(u"%-6S|", u"xy")), "xy    |");
  EXPECT_EQ(Ascii(F(u"%5a|", "ab")), "ab   |");
  EXPECT_EQ(Ascii(F(u"%s", (const CHAR16 *)nullptr)), "<null string>");
  EXPECT_EQ(Ascii(F(u"%a", (const CHAR8 *)nullptr)), "<null string>");
  EXPECT_EQ(Ascii(F(u"%15a|", (const CHAR8 *)nullptr)), "<null string>  |");
  // Bytes of %a are widened, not sign-extended.
  EXPECT_EQ(F(u"%a", "\xE9"), std::u16string(1, u'\u00E9'));
  EXPECT_EQ(F(u"%s", u"\u2502x"), u"\u2502x");
}

TEST(FormatText, CharactersAndPlainText) {
  EXPECT_EQ(Ascii(F(u"%c%c", 'O', 0x1004B)), "OK");  // low 16 bits only
  EXPECT_EQ(Ascii(F(u"100%%")), "100%");
  EXPECT_EQ(Ascii(F(u"%q%d", 3)), "q3");  // unknown conversions stand for themselves
  EXPECT_EQ(Ascii(F(u"end%")), "end");    // a directive cut by the end of the format
  EXPECT_EQ(Ascii(F(u"end%05")), "end");
  EXPECT_EQ(F(u"A\nB"), u"A\r\nB");
  EXPECT_EQ(F(u"\r\n"), u"\r\r\n");  // every line feed gets its carriage return
  EXPECT_EQ(Format(640, u"%d|%s|%x", 12, u"mid", 0xC).Count, 9u);
}

TEST(FormatText, NullFormatAndTooSmallBuffersWriteNothingUnsafe) {
  CHAR16 Buffer[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_EQ(FormatString(Buffer, sizeof(Buffer), nullptr), 1u);
  EXPECT_EQ(Buffer[0], 0);
  Buffer[0] = u'x';
  EXPECT_EQ(FormatString(Buffer, 1, u"abc"), 0u);
  EXPECT_EQ(FormatString(Buffer, 0, u"abc"), 0u);
  EXPECT_EQ(FormatString(nullptr, 640, u"abc"), 0u);
  EXPECT_EQ(Buffer[0], u'x');
  EXPECT_EQ(FormatString(Buffer, 2, u"abc"), 1u);  // room for the terminator only
  EXPECT_EQ(Buffer[0], 0);
  EXPECT_EQ(FormatString(Buffer, 3, u"abc"), 1u);  // an odd byte is not a character
}

TEST(FormatCutOff, PlainTextStopsAtTheBufferEnd) {
  std::u16string Long(400, u'z');
  auto R = Format(640, Long.c_str());
  EXPECT_EQ(R.Text.size(), 319u);
  EXPECT_EQ(R.Count, 320u);
  // A line feed that only just fits goes in without its carriage return.
  auto Edge = Format(6, u"A\nB");
  EXPECT_EQ(Edge.Text, u"A\n");
  EXPECT_EQ(Edge.Count, 3u);
  auto Room = Format(8, u"A\nB");
  EXPECT_EQ(Room.Text, u"A\r\n");
}

TEST(FormatCutOff, NestedConversionsGetTheRoomThatIsLeft) {
  EXPECT_EQ(Ascii(Format(20, u"1234%r", EFI_BUFFER_TOO_SMALL).Text), "1234Buffe");
  EXPECT_EQ(Format(20, u"1234%r", EFI_BUFFER_TOO_SMALL).Count, 10u);
  EFI_GUID Guid = EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID;
  EXPECT_EQ(Ascii(Format(24, u"ab%g", &Guid).Text), "ab964E5B22-");
  EFI_TIME Time = {2024, 12, 31, 23, 59, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(Ascii(Format(14, u"%t", &Time).Text), "12/31/");
  EXPECT_EQ(Ascii(Format(20, u"123456789%r", EFI_SUCCESS).Text), "123456789");
  EXPECT_EQ(Ascii(Format(20, u"%s%d", u"12345678", 99).Text), "123456789");
}

TEST(FormatRecords, GuidAndTime) {
  EFI_GUID Guid = EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID;
  EXPECT_EQ(Ascii(F(u"%g", &Guid)), "964E5B22-6459-11D2-8E39-00A0C969723B");
  EFI_GUID Small = {0x1, 0x2, 0x3, {0, 1, 2, 3, 4, 5, 6, 7}};
  EXPECT_EQ(Ascii(F(u"[%g]", &Small)), "[00000001-0002-0003-0001-020304050607]");
  EXPECT_EQ(Ascii(F(u"[%g]", (const EFI_GUID *)nullptr)), "[]");
  CHAR16 Buffer[37];
  EXPECT_EQ(FormatGuid(&Guid, Buffer, sizeof(Buffer)), 36u);

  EFI_TIME Time = {2024, 3, 7, 9, 5, 30, 0, 0, 0, 0, 0};
  EXPECT_EQ(Ascii(F(u"%t|", &Time)), "03/07/2024  09:05|");
  // A null time writes nothing and is not read; the next argument still lines up.
  EXPECT_EQ(Ascii(F(u"[%t]%d", (const EFI_TIME *)nullptr, 5)), "[]5");
}

TEST(FormatStatusNames, EveryNamedStatusAndTheRest) {
  const struct {
    EFI_STATUS Status;
    const char *Name;
  } Names[] = {
      {0, "Success"},
      {1, "Warning Unknown Glyph"},
      {2, "Warning Delete Failure"},
      {3, "Warning Write Failure"},
      {4, "Warning Buffer Too Small"},
      {0x8000000000000001, "Load Error"},
      {0x8000000000000002, "Invalid Parameter"},
      {0x8000000000000003, "Unsupported"},
      {0x8000000000000004, "Bad Buffer Size"},
      {0x8000000000000005, "Buffer Too Small"},
      {0x8000000000000006, "Not Ready"},
      {0x8000000000000007, "Device Error"},
      {0x8000000000000008, "Write Protected"},
      {0x8000000000000009, "Out of Resources"},
      {0x800000000000000A, "Volume Corrupt"},
      {0x800000000000000B, "Volume Full"},
      {0x800000000000000C, "No Media"},
      {0x800000000000000D, "Media changed"},
      {0x800000000000000E, "Not Found"},
      {0x800000000000000F, "Access Denied"},
      {0x8000000000000010, "No Response"},
      {0x8000000000000011, "No mapping"},
      {0x8000000000000012, "Time out"},
      {0x8000000000000013, "Not started"},
      {0x8000000000000014, "Already started"},
      {0x8000000000000015, "Aborted"},
      {0x8000000000000016, "ICMP Error"},
      {0x8000000000000017, "TFTP Error"},
      {0x8000000000000018, "Protocol Error"},
  };
  for (auto &N : Names) {
    SCOPED_TRACE(N.Name);
    EXPECT_EQ(Ascii(F(u"%r", N.Status)), N.Name);
    CHAR16 Buffer[64];
    EXPECT_EQ(FormatStatus(N.Status, Buffer, sizeof(Buffer)), strlen(N.Name));
  }
  EXPECT_EQ(Ascii(F(u"%r", 0x8000000000000019ULL)), "8000000000000019");
  EXPECT_EQ(Ascii(F(u"%r", 5)), "0000000000000005");
  EXPECT_EQ(Ascii(F(u"%r", 0x8000000000000000ULL)), "8000000000000000");
  EXPECT_EQ(Ascii(F(u"%r", 0x0000000000000018ULL)), "0000000000000018");  // the error bit matters
  EXPECT_EQ(StatusName(0x8000000000000019ULL), nullptr);
  // Width and flags do not apply to a status.
  EXPECT_EQ(Ascii(F(u"%20r|", EFI_NOT_FOUND)), "Not Found|");
}

}  // namespace
