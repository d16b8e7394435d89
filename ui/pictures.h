// The run's pictures on the graphics output: the corner mark near the top
// right and the 100-segment progress bar with its percentage near the bottom.
// Each run loads them from firmware files, draws them and frees them again.
#pragma once
#include "efi/efi.h"

// One bitmap of a picture table. Only the first entry's Guid of a table names
// a firmware file; entry k of the table is that file's raw section k.
typedef struct {
  EFI_GUID Guid;
  UINTN Width;  // kept after FreePictures, so positions stay stable
  UINTN Height;
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Pixels;  // rows top to bottom; null when not loaded
} PICTURE;

static_assert(sizeof(PICTURE) == 40, "PICTURE");

#define DIGIT_PICTURE_COUNT 10
#define BAR_PICTURE_COUNT 4

// The picture tables of a run, in load order.
typedef struct {
  PICTURE DigitPictures[DIGIT_PICTURE_COUNT];
  PICTURE BarPictures[BAR_PICTURE_COUNT];
  PICTURE MarkPictureA[1];
  PICTURE MarkPictureB[1];
  PICTURE ProgressSuffixPicture[1];
  PICTURE BarBlankPicture[1];
  PICTURE DigitBlankPicture[1];
} RUN_PICTURES;

extern RUN_PICTURES Pictures;

// Fixed pixel positions on the graphics output.
#define CORNER_MARK_X 930
#define CORNER_MARK_Y 80
#define PROGRESS_BAR_X 62
#define PROGRESS_BAR_Y 629
#define PROGRESS_BAR_SEGMENTS 100
#define PROGRESS_DIGITS_X 919
#define PROGRESS_DIGITS_Y 607
#define PROGRESS_SUFFIX_X 952

// Loads one picture of a table; on failure the entry is left as it was.
EFI_STATUS LoadPicture(PICTURE *Table, UINTN Index);
// Loads all nineteen pictures for the run's graphics output, which the
// drawing below uses until FreePictures; nothing without an output. A picture
// that fails stays without pixels. Always EFI_SUCCESS.
EFI_STATUS LoadPictures(EFI_GRAPHICS_OUTPUT_PROTOCOL *Output);
// Releases every picture's pixels (sizes are kept) and forgets the output.
VOID FreePictures(VOID);
// Draws one picture at (X, Y); a picture without pixels, or any picture
// without an output, is skipped.
VOID DrawPicture(PICTURE *Table, UINTN Index, UINTN X, UINTN Y);
// The mark and the revision digits 4, 0, 3 on row 80 from X = 930.
VOID DrawCornerMark(VOID);

// The drawing behind the protocol's DrawProgressFrame and SetProgress. They
// draw on the run's graphics output; the protocol functions call them only
// while a run is active.
VOID DrawProgressBarFrame(VOID);
VOID DrawProgressStep(UINT8 Percent, UINT32 Style);

#ifdef EFI_HOST_TEST
// Host tests draw here to model a caller's timer firing between the stores
// that replace or free a picture.
extern VOID (*PicturePreemptionHook)(VOID);
#endif
