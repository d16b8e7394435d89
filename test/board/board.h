// SPDX-License-Identifier: BSD-2-Clause-Patent
// What the board image's SMM stand-ins and the test application share: the
// probe message through which the application, with a real SMI, reads the
// token service's call record and the buffer check's counts, and has a
// settings request sent from a buffer inside SMRAM.
#pragma once
#include "setuptoken/settings_request.h"
#include "test/bed/bed.h"

// Handler GUID of the probe message (SMM communication).
// clang-format off
#define BOARD_SMM_PROBE_GUID {0x3c1f6a52, 0x8e0b, 0x4b7e, {0xa1, 0x55, 0x2d, 0x4e, 0x90, 0x6b, 0x71, 0x10}}
// clang-format on
// SMM protocol through which the buffer check stand-in shows its counts.
// clang-format off
#define BOARD_CHECK_PROBE_GUID {0x3c1f6a52, 0x8e0b, 0x4b7e, {0xa1, 0x55, 0x2d, 0x4e, 0x90, 0x6b, 0x71, 0x11}}
// clang-format on

#define BOARD_PROBE_FETCH 1       // copy the counts and the call record out
#define BOARD_PROBE_RESET 2       // clear them
#define BOARD_PROBE_SEND_SMRAM 3  // send Request (RequestSize bytes) from an SMRAM buffer

#define BOARD_PROBE_CALLS (TOKEN_TABLE_ROWS + 4)  // a record's calls: a write a row and 4 framing calls
#define BOARD_PROBE_REQUEST 1024
#define BOARD_SMRAM_RANGES 4

typedef struct {
  UINT64 Checks;      // buffer checks since the last reset
  UINT64 Refused;     // of which refused
  UINT64 LastBuffer;  // the last buffer checked
  UINT64 LastSize;
  UINT64 RangeCount;                     // SMRAM ranges learnt from the firmware
  UINT64 Ranges[BOARD_SMRAM_RANGES][2];  // start, size
} BOARD_CHECK_PROBE;

typedef struct {
  UINT32 Command;                           // BOARD_PROBE_*
  UINT32 RequestSize;                       // SEND_SMRAM: bytes of Request to send
  EFI_STATUS Status;                        // out: the command's result (SEND_SMRAM: SmiManage's)
  UINT64 SmramBuffer;                       // out: where SEND_SMRAM put the request
  UINT64 CallCount;                         // out: token service calls since the last reset
  BOARD_CHECK_PROBE Check;                  // out
  BED_TOKEN_CALL Calls[BOARD_PROBE_CALLS];  // out: the first calls
  UINT8 Request[BOARD_PROBE_REQUEST];       // in: SEND_SMRAM
} BOARD_PROBE_MESSAGE;

static_assert(sizeof(BED_TOKEN_CALL) == 24, "token call record");
static_assert(__builtin_offsetof(BOARD_PROBE_MESSAGE, Calls) == 136, "probe message: calls");
static_assert(sizeof(BOARD_PROBE_MESSAGE) == 136 + 24 * BOARD_PROBE_CALLS + BOARD_PROBE_REQUEST, "probe message size");
static_assert(BOARD_PROBE_REQUEST >= SETTINGS_REQUEST_MIN_SIZE, "the probe carries a whole request");

// The expected-calls file the host writes for the board boot (\board\records.bin):
// a UINT32 count, then per record the record's bytes (SETTINGS_RECORD_SIZE), a
// UINT32 call count and that many BOARD_EXPECTED_CALL entries.
typedef struct {
  UINT32 Entry;  // BED_TOKEN_CALL_*
  UINT32 Level;
  UINT32 Token;
  UINT32 Value;
} BOARD_EXPECTED_CALL;
static_assert(sizeof(BOARD_EXPECTED_CALL) == 16, "expected call");
