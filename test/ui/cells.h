// SPDX-License-Identifier: BSD-2-Clause-Patent
// A UI window's cells as the host tests read them: one character, one
// attribute, the characters of part of a row, or that part through the test's
// own mapping of characters to text (marks, borders and unwritten cells).
#pragma once
#include <string>

#include "ui/screen.h"

namespace uitest {

inline CHAR16 CellChar(const UI_WINDOW *w, UINTN col, UINTN row) { return w->CellChars[row * w->Width + col]; }
inline UINT64 CellAttr(const UI_WINDOW *w, UINTN col, UINTN row) { return w->CellAttrs[row * w->Width + col]; }

// Columns [col, col + n) of one row.
inline std::u16string CellText(const UI_WINDOW *w, UINTN col, UINTN row, UINTN n) {
  return std::u16string(&w->CellChars[row * w->Width + col], n);
}
template <typename Glyph>
std::string CellText(const UI_WINDOW *w, UINTN col, UINTN row, UINTN n, Glyph glyph) {
  std::string s;
  for (UINTN c = col; c < col + n; c++) s.push_back(glyph(CellChar(w, c, row)));
  return s;
}

}  // namespace uitest
