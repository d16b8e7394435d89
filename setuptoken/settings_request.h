// SPDX-License-Identifier: BSD-2-Clause-Patent
// The settings request: the data of an SMM communication under
// SETTINGS_REQUEST_GUID, a command byte followed by the settings record (a
// byte-packed snapshot of Setup option values; record offset n is request
// offset n + 1).
#pragma once
#include "efi/efi.h"
#include "setuptoken/token_table.h"

// clang-format off
#define SETTINGS_REQUEST_GUID {0x2EF2DEE2, 0x8E8F, 0x412B, {0x90, 0x46, 0x2F, 0xDC, 0xE2, 0x36, 0x30, 0xE0}}
// clang-format on

#define SETTINGS_REQUEST_COMMAND 0xCB
// The record runs through the last byte the translation may read; a request
// must reach it.
constexpr UINTN SETTINGS_RECORD_LAST_OFFSET = TokenTableLastOffset();
constexpr UINTN SETTINGS_RECORD_SIZE = SETTINGS_RECORD_LAST_OFFSET + 1;
constexpr UINTN SETTINGS_REQUEST_MIN_SIZE = 1 + SETTINGS_RECORD_SIZE;

// The PCD that publishes the runtime exchange buffer's address, and the
// buffer's size.
#define EXCHANGE_BUFFER_PCD_TOKEN 1293
#define EXCHANGE_BUFFER_SIZE 0x10000

static_assert(SETTINGS_REQUEST_MIN_SIZE <= EXCHANGE_BUFFER_SIZE, "a request fits the exchange buffer");
