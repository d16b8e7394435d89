// The token service's record as a sender reads it back: an SMM communication
// under TOKEN_RECORD_GUID whose data is a TOKEN_RECORD_MESSAGE. The service
// keeps the latest TOKEN_RECORD_CAPACITY calls, numbered from 0 since SMM
// started; the reply holds the kept calls from First on, as many as the
// message has room for.
#pragma once
#include "efi/efi.h"

// clang-format off
#define TOKEN_RECORD_GUID {0x5E0C7A14, 0x3B2D, 0x4F61, {0x9A, 0x8E, 0x47, 0x1C, 0xD2, 0x60, 0xB3, 0x95}}
// clang-format on

#define TOKEN_RECORD_CAPACITY 512

// Entry: the token service slot that was called (1 finish, 15 open, 16 close,
// 18 boolean, 20 8-bit, 22 16-bit, 24 32-bit, 27 level, any other an entry the
// service does not offer), with the top bit set when the call was refused.
#define TOKEN_RECORD_REFUSED 0x80000000U

typedef struct {
  UINT32 Entry;
  UINT32 Level;  // setters and the level call
  UINT32 Token;  // setters
  UINT32 Value;  // setters, zero-extended
} TOKEN_RECORD_ENTRY;

typedef struct {
  UINT64 First;     // in: number of the first call wanted; out: of the first one returned
  UINT64 Total;     // out: calls made since SMM started
  UINT32 Count;     // out: entries returned
  UINT32 Capacity;  // out: TOKEN_RECORD_CAPACITY
  // TOKEN_RECORD_ENTRY Entries[] follow, as many as the message holds.
} TOKEN_RECORD_MESSAGE;

#ifdef __cplusplus
static_assert(sizeof(TOKEN_RECORD_ENTRY) == 16, "token record entry");
static_assert(sizeof(TOKEN_RECORD_MESSAGE) == 24, "token record message header");
#endif
