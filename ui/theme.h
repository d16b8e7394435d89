// SPDX-License-Identifier: BSD-2-Clause-Patent
// The UI's look, each value named once: the console attributes of its text,
// the priorities that stack a run's windows, and where the message box sits.
#pragma once
#include "efi/efi.h"

// Console attributes: foreground in bits 0 to 3, background in bits 4 to 6.
#define ATTR_WHITE_ON_BLACK 0x0F          // text, blank windows, the screen
#define ATTR_YELLOW_ON_BLACK 0x0E         // headings and a confirmed highlight
#define ATTR_LIGHT_MAGENTA_ON_BLACK 0x0D  // the highlighted volume
#define ATTR_LIGHT_RED_ON_BLACK 0x0C      // the background's lines
#define ATTR_WHITE_ON_BLUE 0x1F           // the message box
#define ATTR_WHITE_ON_GREEN 0x2F          // the file list
#define ATTR_WHITE_ON_RED 0x4F            // the pointer layer (never shown: its cells are transparent)
// The highlighted file: light magenta on light grey. Bit 7 is set as well; the
// compositor passes the console only the seven attribute bits.
#define ATTR_LIGHT_MAGENTA_ON_GREY 0xFD

// Priorities of a run's windows: higher draws over lower.
#define MESSAGE_BOX_HIDDEN_PRIORITY 16  // beneath the background, waiting
#define BACKGROUND_PRIORITY 32
#define LIST_WINDOW_PRIORITY 48
#define MESSAGE_BOX_SHOWN_PRIORITY 64
#define POINTER_LAYER_PRIORITY 80  // above everything, the message box included

// The message box in percent of the character screen's columns and rows.
#define MESSAGE_BOX_LEFT_PERCENT 30
#define MESSAGE_BOX_TOP_PERCENT 30
#define MESSAGE_BOX_WIDTH_PERCENT 40
#define MESSAGE_BOX_HEIGHT_PERCENT 30

// Pixel geometry of a text cell on the graphics output (fixed, not queried).
#define TEXT_CELL_PIXEL_WIDTH 8
#define TEXT_CELL_PIXEL_HEIGHT 19
constexpr UINTN TEXT_ORIGIN_X = 112;
constexpr UINTN TEXT_ORIGIN_Y = 89;
// Grey level of the backdrop behind the message box.
#define MESSAGE_BOX_SHADE 64
