// SPDX-License-Identifier: BSD-2-Clause-Patent
// The platform's status-code service and the debug-mask protocol, and the
// data records of a debug message and of a failed assertion sent through it.
#pragma once
#include "base.h"

// clang-format off
#define STATUS_CODE_PROTOCOL_GUID {0xD2B2B828, 0x0826, 0x48A7, {0xB3, 0xDF, 0x98, 0x3C, 0x00, 0x60, 0x24, 0xF0}}
#define DEBUG_MASK_PROTOCOL_GUID {0x4C8A2451, 0xC207, 0x405B, {0x96, 0x94, 0x99, 0xEA, 0x13, 0x25, 0x13, 0x41}}
#define STATUS_CODE_CALLER_ID_GUID {0xC9DCF469, 0xA7C4, 0x11D5, {0x87, 0xDA, 0x00, 0x06, 0x29, 0x45, 0xC3, 0xB9}}
#define STATUS_CODE_DATA_TYPE_DEBUG_GUID {0x9A4E9246, 0xD553, 0x11D5, {0x87, 0xE2, 0x00, 0x06, 0x29, 0x45, 0xC3, 0xB9}}
#define STATUS_CODE_DATA_TYPE_ASSERT_GUID {0xDA571595, 0x4D99, 0x487C, {0x82, 0x7C, 0x26, 0x22, 0x67, 0x7D, 0x33, 0x07}}
// clang-format on

#define STATUS_CODE_TYPE_DEBUG 0x00000003U        // debug code
#define STATUS_CODE_TYPE_UNRECOVERED 0x90000002U  // unrecoverable error code
#define STATUS_CODE_VALUE_DEBUG 0x03050000U
#define STATUS_CODE_VALUE_ASSERT 0x03050007U

typedef struct {
  EFI_STATUS(EFIAPI *ReportStatusCode)(UINT32 Type, UINT32 Value, UINT32 Instance, const EFI_GUID *CallerId, VOID *Data);
} STATUS_CODE_PROTOCOL;

typedef struct DEBUG_MASK_PROTOCOL DEBUG_MASK_PROTOCOL;
struct DEBUG_MASK_PROTOCOL {
  INT64 Revision;
  EFI_STATUS(EFIAPI *GetDebugMask)(DEBUG_MASK_PROTOCOL *This, UINTN *CurrentDebugMask);
  EFI_STATUS(EFIAPI *SetDebugMask)(DEBUG_MASK_PROTOCOL *This, UINTN *NewDebugMask);
};

static_assert(sizeof(STATUS_CODE_PROTOCOL) == 8, "STATUS_CODE_PROTOCOL");
static_assert(__builtin_offsetof(DEBUG_MASK_PROTOCOL, GetDebugMask) == 8, "GetDebugMask");

// The data records of the two reports, in a 1600-byte buffer each.
#define STATUS_CODE_RECORD_SIZE 1600
#define DEBUG_RECORD_ARGUMENTS 12
#define DEBUG_RECORD_FORMAT_CHARS 79  // the format is cut here, then a 0 byte

typedef struct {
  UINT16 HeaderSize;  // 20
  UINT16 Size;        // bytes after the header
  EFI_GUID Type;
} STATUS_CODE_DATA_HEADER;

typedef struct {
  STATUS_CODE_DATA_HEADER Header;
  UINT32 ErrorLevel;
  UINT64 Arguments[DEBUG_RECORD_ARGUMENTS];
  CHAR8 Format[STATUS_CODE_RECORD_SIZE - 120];
} DEBUG_RECORD;

typedef struct {
  STATUS_CODE_DATA_HEADER Header;
  UINT8 Unwritten1[20];
  UINT32 LineNumber;
  UINT8 Unwritten2[16];
  CHAR8 Texts[STATUS_CODE_RECORD_SIZE - 60];  // file name, 0, expression, 0
} ASSERT_RECORD;

static_assert(sizeof(STATUS_CODE_DATA_HEADER) == 20, "status code data header");
static_assert(__builtin_offsetof(DEBUG_RECORD, ErrorLevel) == 20, "DEBUG_RECORD.ErrorLevel");
static_assert(__builtin_offsetof(DEBUG_RECORD, Arguments) == 24, "DEBUG_RECORD.Arguments");
static_assert(__builtin_offsetof(DEBUG_RECORD, Format) == 120, "DEBUG_RECORD.Format");
static_assert(sizeof(DEBUG_RECORD) == STATUS_CODE_RECORD_SIZE, "DEBUG_RECORD");
static_assert(__builtin_offsetof(ASSERT_RECORD, LineNumber) == 40, "ASSERT_RECORD.LineNumber");
static_assert(__builtin_offsetof(ASSERT_RECORD, Texts) == 60, "ASSERT_RECORD.Texts");
static_assert(sizeof(ASSERT_RECORD) == STATUS_CODE_RECORD_SIZE, "ASSERT_RECORD");
