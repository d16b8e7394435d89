// The run's pictures: bitmaps from raw sections of firmware files, converted
// to pixels when a run starts, drawn at fixed positions of the graphics
// output and released when the run ends.
#include "ui/pictures.h"

#include "ui/bmp.h"
#include "ui/status_report.h"
#include "ui/section.h"

// The graphics output the pictures were loaded for; null between runs.
static EFI_GRAPHICS_OUTPUT_PROTOCOL *PictureOutput;

#ifdef EFI_HOST_TEST
VOID (*PicturePreemptionHook)(VOID);
#endif

// Only each table's first GUID names a firmware file; the others are kept so
// that every picture has a name of its own.
RUN_PICTURES Pictures = {
    .DigitPictures =
        {
            {{0x6C2AB33E, 0x77F8, 0x46B9, {0x81, 0x06, 0x76, 0x0B, 0x4A, 0x81, 0xA5, 0x00}}, 0, 0, nullptr},
            {{0x6C2AB33E, 0x77F8, 0x46B9, {0x81, 0x06, 0x76, 0x0B, 0x4A, 0x81, 0xA5, 0x01}}, 0, 0, nullptr},
            {{0x6C2AB33E, 0x77F8, 0x46B9, {0x81, 0x06, 0x76, 0x0B, 0x4A, 0x81, 0xA5, 0x02}}, 0, 0, nullptr},
            {{0x6C2AB33E, 0x77F8, 0x46B9, {0x81, 0x06, 0x76, 0x0B, 0x4A, 0x81, 0xA5, 0x03}}, 0, 0, nullptr},
            {{0x6C2AB33E, 0x77F8, 0x46B9, {0x81, 0x06, 0x76, 0x0B, 0x4A, 0x81, 0xA5, 0x04}}, 0, 0, nullptr},
            {{0x6C2AB33E, 0x77F8, 0x46B9, {0x81, 0x06, 0x76, 0x0B, 0x4A, 0x81, 0xA5, 0x05}}, 0, 0, nullptr},
            {{0x6C2AB33E, 0x77F8, 0x46B9, {0x81, 0x06, 0x76, 0x0B, 0x4A, 0x81, 0xA5, 0x06}}, 0, 0, nullptr},
            {{0x6C2AB33E, 0x77F8, 0x46B9, {0x81, 0x06, 0x76, 0x0B, 0x4A, 0x81, 0xA5, 0x07}}, 0, 0, nullptr},
            {{0x6C2AB33E, 0x77F8, 0x46B9, {0x81, 0x06, 0x76, 0x0B, 0x4A, 0x81, 0xA5, 0x08}}, 0, 0, nullptr},
            {{0x6C2AB33E, 0x77F8, 0x46B9, {0x81, 0x06, 0x76, 0x0B, 0x4A, 0x81, 0xA5, 0x09}}, 0, 0, nullptr},
        },
    .BarPictures =
        {
            {{0xF5307D3A, 0xD41B, 0x4029, {0x8F, 0xC3, 0x2E, 0xB8, 0x64, 0xC2, 0xDC, 0xE3}}, 0, 0, nullptr},
            {{0xF5307D3A, 0xD41B, 0x4029, {0x8F, 0xC3, 0x2E, 0xB8, 0x64, 0xC2, 0xDC, 0xE4}}, 0, 0, nullptr},
            {{0xF5307D3A, 0xD41B, 0x4029, {0x8F, 0xC3, 0x2E, 0xB8, 0x64, 0xC2, 0xDC, 0xE5}}, 0, 0, nullptr},
            {{0xF5307D3A, 0xD41B, 0x4029, {0x8F, 0xC3, 0x2E, 0xB8, 0x64, 0xC2, 0xDC, 0xE6}}, 0, 0, nullptr},
        },
    .MarkPictureA = {{{0xB0F79D6F, 0x61D3, 0x458D, {0x81, 0x1D, 0xCD, 0x24, 0x8D, 0x33, 0x47, 0x80}}, 0, 0, nullptr}},
    .MarkPictureB = {{{0xB0F79D6F, 0x61D3, 0x458D, {0x81, 0x1D, 0xCD, 0x24, 0x8D, 0x33, 0x47, 0x81}}, 0, 0, nullptr}},
    .ProgressSuffixPicture = {{{0xB0F79D6F, 0x61D3, 0x458D, {0x81, 0x1D, 0xCD, 0x24, 0x8D, 0x33, 0x47, 0x82}}, 0, 0, nullptr}},
    .BarBlankPicture = {{{0xACFBA7A4, 0x6210, 0x4AD5, {0x8B, 0xFA, 0xEF, 0x7A, 0x15, 0xFB, 0x26, 0x16}}, 0, 0, nullptr}},
    .DigitBlankPicture = {{{0xACFBA7A4, 0x6210, 0x4AD5, {0x8B, 0xFA, 0xEF, 0x7A, 0x15, 0xFB, 0x26, 0x17}}, 0, 0, nullptr}},
};

namespace {

struct PICTURE_TABLE {
  PICTURE *Table;
  UINTN Count;
};

// Every picture table in load order.
constexpr PICTURE_TABLE PictureTables[] = {
    {Pictures.DigitPictures, DIGIT_PICTURE_COUNT},
    {Pictures.BarPictures, BAR_PICTURE_COUNT},
    {Pictures.MarkPictureA, 1},
    {Pictures.MarkPictureB, 1},
    {Pictures.ProgressSuffixPicture, 1},
    {Pictures.BarBlankPicture, 1},
    {Pictures.DigitBlankPicture, 1},
};

// Revision 403 of the protocol, shown as the corner mark's digits.
constexpr UINTN RevisionDigits[] = {4, 0, 3};

// A caller's timer may draw between any two stores to a picture: each store
// happens in program order and is never dropped or merged with another.
template <typename T>
void Publish(T *Slot, T Value) {
  __atomic_signal_fence(__ATOMIC_SEQ_CST);
  *(volatile T *)Slot = Value;
  __atomic_signal_fence(__ATOMIC_SEQ_CST);
#ifdef EFI_HOST_TEST
  if (PicturePreemptionHook != nullptr) PicturePreemptionHook();
#endif
}

// Takes the pixels out of the picture before they are freed, so a drawing in
// between skips the picture instead of reading freed memory.
void DropPixels(PICTURE &Picture) {
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Old = Picture.Pixels;
  if (Old == nullptr) return;
  Publish(&Picture.Pixels, (EFI_GRAPHICS_OUTPUT_BLT_PIXEL *)nullptr);
  gBS->FreePool(Old);
}

}  // namespace

EFI_STATUS LoadPicture(PICTURE *Table, UINTN Index) {
  VOID *Content = nullptr;
  UINTN Size = 0;
  EFI_STATUS Status = ReadRawSection(&Table[0].Guid, &Content, &Size, Index);
  if (EFI_ERROR(Status)) return Status;

  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Pixels = nullptr;
  UINTN PixelBytes = 0, Height = 0, Width = 0;
  Status = BmpToBltBuffer(Content, Size, &Pixels, &PixelBytes, &Height, &Width);
  gBS->FreePool(Content);
  if (EFI_ERROR(Status)) return Status;

  // A picture loaded twice keeps only the newer pixels. The new size is in
  // place before the new pixels are, so no drawing sees them under the old one.
  PICTURE &Picture = Table[Index];
  DropPixels(Picture);
  Publish(&Picture.Width, Width);
  Publish(&Picture.Height, Height);
  Publish(&Picture.Pixels, Pixels);
  return EFI_SUCCESS;
}

EFI_STATUS LoadPictures(EFI_GRAPHICS_OUTPUT_PROTOCOL *Output) {
  Publish(&PictureOutput, Output);
  if (Output == nullptr) return EFI_SUCCESS;
  for (const PICTURE_TABLE &t : PictureTables)
    for (UINTN i = 0; i < t.Count; i++) LoadPicture(t.Table, i);
  return EFI_SUCCESS;
}

VOID FreePictures(VOID) {
  Publish(&PictureOutput, (EFI_GRAPHICS_OUTPUT_PROTOCOL *)nullptr);
  for (const PICTURE_TABLE &t : PictureTables)
    for (UINTN i = 0; i < t.Count; i++) DropPixels(t.Table[i]);
}

VOID DrawPicture(PICTURE *Table, UINTN Index, UINTN X, UINTN Y) {
  const PICTURE &Picture = Table[Index];
  // An empty picture has nothing to draw, and Blt refuses a zero-sized area.
  if (Picture.Pixels == nullptr || Picture.Width == 0 || Picture.Height == 0 || PictureOutput == nullptr) return;

  UINTN Count, Bytes;
  if (__builtin_mul_overflow(Picture.Width, Picture.Height, &Count) ||
      __builtin_mul_overflow(Count, (UINTN)sizeof(EFI_GRAPHICS_OUTPUT_BLT_PIXEL), &Bytes))
    return;
  VOID *Buffer = nullptr;
  if (EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, Bytes, &Buffer)) || Buffer == nullptr) return;

  // The decoder leaves the Reserved byte unwritten, so only the colours are
  // copied into a zeroed buffer.
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Out = (EFI_GRAPHICS_OUTPUT_BLT_PIXEL *)Buffer;
  for (UINTN i = 0; i < Count; i++) {
    Out[i].Blue = Picture.Pixels[i].Blue;
    Out[i].Green = Picture.Pixels[i].Green;
    Out[i].Red = Picture.Pixels[i].Red;
    Out[i].Reserved = 0;
  }
  PictureOutput->Blt(PictureOutput, Out, EfiBltBufferToVideo, 0, 0, X, Y, Picture.Width, Picture.Height, 0);
  gBS->FreePool(Buffer);
}

VOID DrawCornerMark(VOID) {
  // Left to right with one blank pixel column between neighbours: the first
  // mark, digit 4, the second mark, digits 0 and 3.
  struct PIECE {
    PICTURE *Table;
    UINTN Index;
  };
  const PIECE Pieces[] = {
      {Pictures.MarkPictureA, 0},
      {Pictures.DigitPictures, RevisionDigits[0]},
      {Pictures.MarkPictureB, 0},
      {Pictures.DigitPictures, RevisionDigits[1]},
      {Pictures.DigitPictures, RevisionDigits[2]},
  };
  UINTN x = CORNER_MARK_X;
  for (const PIECE &p : Pieces) {
    DrawPicture(p.Table, p.Index, x, CORNER_MARK_Y);
    x += p.Table[p.Index].Width + 1;
  }
}

VOID DrawProgressBarFrame(VOID) {
  UINTN Segment = Pictures.BarBlankPicture[0].Width;
  for (UINTN k = 0; k < PROGRESS_BAR_SEGMENTS; k++) DrawPicture(Pictures.BarBlankPicture, 0, PROGRESS_BAR_X + k * Segment, PROGRESS_BAR_Y);
  UINTN Digit = Pictures.DigitBlankPicture[0].Width;
  for (UINTN k = 0; k < 4; k++) DrawPicture(Pictures.DigitBlankPicture, 0, PROGRESS_DIGITS_X + k * (Digit + 1), PROGRESS_DIGITS_Y);
}

VOID DrawProgressStep(UINT8 Percent, UINT32 Style) {
  UINTN p = Percent > 100 ? 100 : Percent;
  UINTN StyleIndex = (Style >= 1 && Style < BAR_PICTURE_COUNT) ? Style : 0;

  // One call draws the one segment at position p; 100 has no segment.
  if (p < PROGRESS_BAR_SEGMENTS)
    DrawPicture(Pictures.BarPictures, StyleIndex, PROGRESS_BAR_X + p * Pictures.BarPictures[0].Width, PROGRESS_BAR_Y);

  // Hundreds only when not 0, but the tens always, so 5 shows as 05. A
  // hundreds place left empty still takes the width of digit 0.
  UINTN h = p / 100, t = (p % 100) / 10, u = p % 10;
  if (h != 0) DrawPicture(Pictures.DigitPictures, h, PROGRESS_DIGITS_X, PROGRESS_DIGITS_Y);
  UINTN TensX = PROGRESS_DIGITS_X + 1 + Pictures.DigitPictures[h].Width;
  DrawPicture(Pictures.DigitPictures, t, TensX, PROGRESS_DIGITS_Y);
  DrawPicture(Pictures.DigitPictures, u, TensX + 1 + Pictures.DigitPictures[t].Width, PROGRESS_DIGITS_Y);
  DrawPicture(Pictures.ProgressSuffixPicture, 0, PROGRESS_SUFFIX_X, PROGRESS_DIGITS_Y);
}
