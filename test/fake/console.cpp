// SPDX-License-Identifier: BSD-2-Clause-Patent
// The text console as a grid of cells with a call log, and the key queue.
#include "impl.h"

namespace fake {

void Platform::SetTextModes(std::vector<std::pair<UINTN, UINTN>> modes) {
  modes_ = std::move(modes);
  con_mode_.MaxMode = static_cast<INT32>(modes_.size());
  con_mode_.Mode = 0;
  con_mode_.Attribute = 0x07;
  con_mode_.CursorColumn = 0;
  con_mode_.CursorRow = 0;
  con_mode_.CursorVisible = 1;
  grid_.assign(modes_[0].first * modes_[0].second, Cell{});
}

UINTN Platform::Columns() const { return modes_[con_mode_.Mode].first; }
UINTN Platform::Rows() const { return modes_[con_mode_.Mode].second; }
const Platform::Cell &Platform::At(UINTN col, UINTN row) const { return grid_.at(row * Columns() + col); }

std::u16string Platform::RowText(UINTN row) const {
  std::u16string s;
  for (UINTN c = 0; c < Columns(); c++) s.push_back(At(c, row).ch);
  return s;
}

std::string Platform::RowAscii(UINTN row) const {
  std::u16string s = RowText(row);
  std::string out;
  for (char16_t ch : s) out.push_back(ch < 0x80 ? static_cast<char>(ch) : '#');
  return out;
}

std::string Platform::ConsoleTranscript() const {
  std::string out;
  for (auto &c : con_log_)
    if (c.name == "OutputString")
      for (char16_t ch : c.text) out.push_back(ch < 0x80 ? static_cast<char>(ch) : '#');
  return out;
}

// Writes one character as a real console does: at the cursor, advancing,
// wrapping at the right edge and scrolling past the last row.
void Platform::WriteChar(char16_t ch) {
  UINTN cols = Columns(), rows = Rows();
  auto newline = [&] {
    if (static_cast<UINTN>(con_mode_.CursorRow) + 1 < rows) {
      con_mode_.CursorRow++;
      return;
    }
    scrolls_++;
    grid_.erase(grid_.begin(), grid_.begin() + cols);
    grid_.resize(cols * rows, Cell{u' ', static_cast<uint8_t>(con_mode_.Attribute)});
  };
  switch (ch) {
    case u'\r':
      con_mode_.CursorColumn = 0;
      return;
    case u'\n':
      newline();
      return;
    case u'\b':
      if (con_mode_.CursorColumn > 0) con_mode_.CursorColumn--;
      return;
    default:
      break;
  }
  grid_[con_mode_.CursorRow * cols + con_mode_.CursorColumn] = Cell{ch, static_cast<uint8_t>(con_mode_.Attribute)};
  chars_written_++;
  if (static_cast<UINTN>(++con_mode_.CursorColumn) == cols) {
    con_mode_.CursorColumn = 0;
    newline();
  }
}

EFI_STATUS EFIAPI Platform::Impl::ConReset(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *self, BOOLEAN) {
  P().con_log_.push_back({"Reset"});
  return ClearScreen(self);
}

EFI_STATUS EFIAPI Platform::Impl::OutputString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, CHAR16 *s) {
  Platform &p = P();
  if (!s) return EFI_INVALID_PARAMETER;
  ConsoleCall call{"OutputString"};
  for (; *s; s++) {
    call.text.push_back(*s);
    p.WriteChar(*s);
  }
  p.con_log_.push_back(std::move(call));
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Platform::Impl::TestString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, CHAR16 *s) {
  return s ? EFI_SUCCESS : EFI_INVALID_PARAMETER;
}

EFI_STATUS EFIAPI Platform::Impl::QueryMode(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, UINTN mode, UINTN *cols, UINTN *rows) {
  Platform &p = P();
  p.con_log_.push_back({"QueryMode", {}, mode});
  if (!cols || !rows) return EFI_INVALID_PARAMETER;
  if (mode >= p.modes_.size()) return EFI_UNSUPPORTED;
  *cols = p.modes_[mode].first;
  *rows = p.modes_[mode].second;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Platform::Impl::SetMode(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, UINTN mode) {
  Platform &p = P();
  p.con_log_.push_back({"SetMode", {}, mode});
  if (mode >= p.modes_.size()) return EFI_UNSUPPORTED;
  p.con_mode_.Mode = static_cast<INT32>(mode);
  p.grid_.assign(p.modes_[mode].first * p.modes_[mode].second, Cell{u' ', static_cast<uint8_t>(p.con_mode_.Attribute)});
  p.con_mode_.CursorColumn = 0;
  p.con_mode_.CursorRow = 0;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Platform::Impl::SetAttribute(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, UINTN attr) {
  Platform &p = P();
  p.con_log_.push_back({"SetAttribute", {}, attr});
  if (attr & ~0x7FULL) return EFI_UNSUPPORTED;
  p.con_mode_.Attribute = static_cast<INT32>(attr);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Platform::Impl::ClearScreen(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *) {
  Platform &p = P();
  p.con_log_.push_back({"ClearScreen"});
  for (auto &c : p.grid_) c = Cell{u' ', static_cast<uint8_t>(p.con_mode_.Attribute)};
  p.con_mode_.CursorColumn = 0;
  p.con_mode_.CursorRow = 0;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Platform::Impl::SetCursorPosition(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, UINTN col, UINTN row) {
  Platform &p = P();
  p.con_log_.push_back({"SetCursorPosition", {}, col, row});
  if (col >= p.Columns() || row >= p.Rows()) return EFI_UNSUPPORTED;
  p.con_mode_.CursorColumn = static_cast<INT32>(col);
  p.con_mode_.CursorRow = static_cast<INT32>(row);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Platform::Impl::EnableCursor(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, BOOLEAN visible) {
  Platform &p = P();
  p.con_log_.push_back({"EnableCursor", {}, visible});
  p.con_mode_.CursorVisible = visible ? 1 : 0;
  return EFI_SUCCESS;
}

// ---- keys ----

void Platform::PushKey(UINT16 scan, CHAR16 ch) { keys_.push_back(EFI_INPUT_KEY{scan, ch}); }

EFI_STATUS EFIAPI Platform::Impl::InReset(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *, BOOLEAN) {
  P().keys_.clear();
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Platform::Impl::ReadKeyStroke(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *, EFI_INPUT_KEY *key) {
  Platform &p = P();
  if (!key) return EFI_INVALID_PARAMETER;
  if (p.keys_.empty()) return EFI_NOT_READY;
  *key = p.keys_.front();
  p.keys_.pop_front();
  return EFI_SUCCESS;
}

// WaitForKey is a wait event: checking it looks at the queue.
VOID EFIAPI Platform::Impl::WaitForKeyNotify(EFI_EVENT e, VOID *) {
  if (!P().keys_.empty()) P().SignalEv(E(e));
}

}  // namespace fake
