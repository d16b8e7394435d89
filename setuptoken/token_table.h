// The Setup-to-token mapping as data: one row per Setup option, walked in
// order by the translation.
#pragma once
#include "efi/efi.h"

// Which setter a row's field goes to, and so how wide the field is.
#define TOKEN_KIND_BOOL 0  // 1 byte, passed on as it is
#define TOKEN_KIND_8 1     // 1 byte
#define TOKEN_KIND_16 2    // 2 bytes, little-endian, any alignment
#define TOKEN_KIND_32 3    // 4 bytes, little-endian, any alignment

// A test of one gate byte of the record: it holds when
// ((byte - Value) & Mask) == 0, so Mask 0xFF asks for equality and other masks
// accept a set of values. Mask 0 means no test, and no byte is read.
typedef struct {
  UINT16 Offset;
  UINT8 Value;
  UINT8 Mask;
} TOKEN_GATE;

typedef struct {
  UINT32 Token;         // what the token service calls the option
  UINT32 Auto;          // the value that leaves the token alone, when HasAuto
  UINT16 Offset;        // the option's place in the record
  UINT8 Kind;           // TOKEN_KIND_*
  UINT8 HasAuto;        // 0: the field is written whenever the gates hold
  TOKEN_GATE Gates[2];  // both must hold for the row to be processed
} TOKEN_ROW;

static_assert(sizeof(TOKEN_GATE) == 4, "TOKEN_GATE");
static_assert(sizeof(TOKEN_ROW) == 20, "TOKEN_ROW");

#define TOKEN_TABLE_ROWS 154

extern const TOKEN_ROW TokenTable[TOKEN_TABLE_ROWS];
