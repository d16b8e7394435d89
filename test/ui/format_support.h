// SPDX-License-Identifier: BSD-2-Clause-Patent
// Calls the formatter the way firmware callers do: every argument widened to
// one 64-bit slot, pointers passed as they are.
#pragma once
#include <string>
#include <type_traits>
#include <vector>

#include "efi/efi.h"
#include "ui/format.h"

namespace uitest {

template <typename T>
auto Slot(T Value) {
  if constexpr (std::is_pointer_v<T> || std::is_null_pointer_v<T>)
    return (const void *)Value;
  else
    return (UINT64)Value;
}

// The formatted text and the formatter's count, from a buffer of Size bytes.
struct Formatted {
  std::u16string Text;
  UINTN Count;
};

template <typename... A>
Formatted Format(UINTN Size, const char16_t *Fmt, A... Args) {
  std::vector<CHAR16> Buffer(Size / 2 + 1, 0xBEEF);
  UINTN Count = FormatString(Buffer.data(), Size, Fmt, Slot(Args)...);
  return {std::u16string(Buffer.data()), Count};
}

template <typename... A>
std::u16string F(const char16_t *Fmt, A... Args) {
  return Format(640, Fmt, Args...).Text;
}

inline std::string Ascii(const std::u16string &Text) {
  std::string Out;
  for (char16_t Ch : Text) Out.push_back(Ch < 0x80 ? (char)Ch : '?');
  return Out;
}

}  // namespace uitest
