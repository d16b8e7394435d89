// SPDX-License-Identifier: BSD-2-Clause-Patent
// The test bed's own screen check: text written in the console's 100 x 31
// mode must come back from the serial stream as the right grid of characters
// and attributes, and land at the pixel geometry the UI assumes (cells of
// 8 x 19 from pixel 112, 89); a graphics-output fill must show in the
// screenshot. The runner's checks.py judges the "screen.grid" shot.
#include "test/bed/app/app.h"

static const EFI_GUID GopGuid = EFI_GRAPHICS_OUTPUT_PROTOCOL_GUID;
static const EFI_GUID TextOutGuid = {0x387477C2, 0x69C7, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

// The mode number of Columns x Rows, or -1.
static INT32 FindMode(UINTN Columns, UINTN Rows) {
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *out = gST->ConOut;
  for (INT32 m = 0; m < out->Mode->MaxMode; m++) {
    UINTN c = 0, r = 0;
    if (!EFI_ERROR(out->QueryMode(out, (UINTN)m, &c, &r)) && c == Columns && r == Rows) return m;
  }
  return -1;
}

// The firmware's console splitter puts the serial terminal into 80 x 50 when
// the console is 100 x 31, so the terminal never positions the cursor past
// column 80. Every other text output is put into 100 x 31 as well, so that
// the serial stream carries the last columns' positions.
static void WidenOtherTextOutputs() {
  UINTN count = 0;
  EFI_HANDLE *handles = nullptr;
  if (EFI_ERROR(gBS->LocateHandleBuffer(ByProtocol, &TextOutGuid, nullptr, &count, &handles))) return;
  for (UINTN i = 0; i < count; i++) {
    VOID *p = nullptr;
    if (EFI_ERROR(gBS->HandleProtocol(handles[i], &TextOutGuid, &p)) || p == gST->ConOut) continue;
    EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *t = (EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *)p;
    for (INT32 m = 0; m < t->Mode->MaxMode; m++) {
      UINTN c = 0, r = 0;
      if (!EFI_ERROR(t->QueryMode(t, (UINTN)m, &c, &r)) && c == 100 && r == 31) {
        if (t->Mode->Mode != m) t->SetMode(t, (UINTN)m);
        break;
      }
    }
  }
  gBS->FreePool(handles);
}

static void WriteAt(UINTN Column, UINTN Row, UINTN Attribute, const CHAR16 *Text) {
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *out = gST->ConOut;
  out->SetAttribute(out, Attribute);
  out->SetCursorPosition(out, Column, Row);
  out->OutputString(out, (CHAR16 *)Text);
}

static void ScreenGrid() {
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *out = gST->ConOut;
  INT32 previous = out->Mode->Mode;
  INT32 mode = FindMode(100, 31);
  BED_REQUIRE(mode >= 0, "the console offers no 100 x 31 mode");
  BED_REQUIRE(!EFI_ERROR(out->SetMode(out, (UINTN)mode)), "SetMode(100 x 31) failed");
  WidenOtherTextOutputs();
  out->EnableCursor(out, 0);
  out->SetAttribute(out, 0x0F);
  out->ClearScreen(out);
  WriteAt(10, 3, 0x1F, u"TEST BED GRID");
  WriteAt(20, 5, 0x0C, u"\u2500\u2500\u2500\u2500\u2500");
  WriteAt(0, 0, 0x4F, u"@");
  WriteAt(40, 12, 0x2F, u" green ");
  // The last column: a cell of its own (the terminal sends column 100 as
  // ":0"), and text that ends in it.
  WriteAt(99, 7, 0x0C, u"|");
  WriteAt(92, 9, 0x0E, u"12:34:56");
  WriteAt(0, 30, 0x0F, u"last row");

  EFI_GRAPHICS_OUTPUT_PROTOCOL *gop = (EFI_GRAPHICS_OUTPUT_PROTOCOL *)BedLocate(GopGuid);
  BED_CHECK(gop != nullptr, "no graphics output");
  if (gop) {
    BED_CHECK(gop->Mode->Info->HorizontalResolution == 1024 && gop->Mode->Info->VerticalResolution == 768, "graphics mode %u x %u",
              gop->Mode->Info->HorizontalResolution, gop->Mode->Info->VerticalResolution);
    EFI_GRAPHICS_OUTPUT_BLT_PIXEL colour = {0x80, 0xC0, 0x20, 0};
    EFI_STATUS status = gop->Blt(gop, &colour, EfiBltVideoFill, 0, 0, 600, 700, 100, 40, 0);
    BED_CHECK(!EFI_ERROR(status), "Blt fill: %r", status);
  }
  BedShot("screen.grid");

  out->SetAttribute(out, 0x07);
  out->SetMode(out, (UINTN)previous);
  out->ClearScreen(out);
}

extern const BedScenario ScreenScenarios[] = {
    {"bed.screen-grid", "default", ScreenGrid},
    {nullptr, nullptr, nullptr},
};
