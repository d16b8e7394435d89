// SPDX-License-Identifier: BSD-2-Clause-Patent
// The formatter against the C library's snprintf, for the directives where the
// two are meant to agree: %d and %x with widths and the 0 and - flags, %s, %c.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <random>
#include <string>

#include "format_support.h"

using uitest::Ascii;
using uitest::F;

namespace {

// Values spread over every magnitude, both signs and the extremes.
INT64 RandomValue(std::mt19937_64 &Rng) {
  switch (Rng() % 6) {
    case 0:
      return (INT64)(Rng() % 10);
    case 1:
      return (INT64)(Rng() % 100000) - 50000;
    case 2:
      return (INT64)Rng();
    case 3:
      return (INT64)(Rng() >> (Rng() % 64));
    case 4:
      return -(INT64)(Rng() >> (Rng() % 64));
    default:
      return (Rng() & 1) ? INT64_MIN : INT64_MAX;
  }
}

// What snprintf prints, turned into what the formatter prints:
// the "-" flag adds no blanks at all, and a width below the length keeps the
// least significant end.
std::string Expected(const char *Flags, int Width, char Conv, INT64 Value) {
  char Directive[32], Out[128];
  snprintf(Directive, sizeof(Directive), "%%%s%d%s", Flags, Width, Conv == 'd' ? "lld" : "llX");
  snprintf(Out, sizeof(Out), Directive, Value);
  std::string S = Out;
  if (strchr(Flags, '-') != nullptr) S.erase(S.find_last_not_of(' ') + 1);
  if (Width > 0 && (int)S.size() > Width) S = S.substr(S.size() - Width);
  return S;
}

TEST(FormatDifferential, NumbersAgreeWithSnprintf) {
  std::mt19937_64 Rng(20241209);
  const char *FlagSets[] = {"", "0", "-", "-0"};
  for (int i = 0; i < 20000; i++) {
    INT64 Value = RandomValue(Rng);
    const char *Flags = FlagSets[Rng() % 4];
    int Width = (int)(Rng() % 30);  // the formatter caps at 29
    char Conv = (Rng() & 1) ? 'd' : 'x';
    // Zero padding of a negative decimal is where the two differ on purpose.
    if (Conv == 'd' && Value < 0 && strchr(Flags, '0') != nullptr && strchr(Flags, '-') == nullptr) continue;

    std::u16string Fmt = u"%";
    for (const char *f = Flags; *f; f++) Fmt.push_back(*f);
    if (Width > 0)
      for (char c : std::to_string(Width)) Fmt.push_back(c);
    Fmt.push_back(Conv);
    std::string Want = Expected(Flags, Width, Conv, Value);
    ASSERT_EQ(Ascii(F(Fmt.c_str(), Value)), Want) << Ascii(Fmt) << " on " << Value;
  }
}

TEST(FormatDifferential, StringsCharactersAndMixedFormats) {
  std::mt19937_64 Rng(7);
  for (int i = 0; i < 5000; i++) {
    std::string Text;
    size_t Length = Rng() % 40;
    for (size_t k = 0; k < Length; k++) Text.push_back((char)(0x20 + Rng() % 95));
    std::u16string Wide(Text.begin(), Text.end());
    int Width = (int)(Rng() % 50);
    char Ch = (char)(0x21 + Rng() % 94);
    INT64 A = RandomValue(Rng);
    UINT64 B = Rng() >> (Rng() % 64);

    // snprintf's left-aligned %s matches the formatter's string padding.
    char Want[512];
    snprintf(Want, sizeof(Want), "<%-*s|%c|%lld|%8llX|%-*s>", Width, Text.c_str(), Ch, A, B, Width, Text.c_str());
    std::string WantS = Want;
    // %8X in snprintf keeps all digits; the formatter keeps the last eight.
    std::u16string Got = F(u"<%*s|%c|%d|%8x|%*a>", Width, Wide.c_str(), Ch, A, B, Width, Text.c_str());
    char Hex[32];
    snprintf(Hex, sizeof(Hex), "%8llX", B);
    std::string HexS = Hex;
    if (HexS.size() > 8) {
      WantS.replace(WantS.find(HexS), HexS.size(), HexS.substr(HexS.size() - 8));
    }
    ASSERT_EQ(Ascii(Got), WantS);
  }
}

}  // namespace
