// SPDX-License-Identifier: BSD-2-Clause-Patent
// The values that stored variables, the board's firmware and callers rely on,
// written out once for every test (host tests, test bed, board) apart from the
// drivers' own headers, so that a driver that changes one fails its tests.
#pragma once

// clang-format off
// Variables the drivers read and write.
#define CONTRACT_SETUP_VARIABLE_GUID  {0xEC87D643, 0xEBA4, 0x4BB5, {0xA1, 0xE5, 0x3F, 0x3E, 0x36, 0xB2, 0x0D, 0xA9}}
#define CONTRACT_DMI_VARIABLE_GUID    {0x4B3082A3, 0x80C6, 0x4D7E, {0x9C, 0xD0, 0x58, 0x39, 0x17, 0x26, 0x5D, 0xF1}}
#define CONTRACT_PSTATE_VARIABLE_GUID {0x5A7935F7, 0xD0A5, 0x4C6D, {0xA1, 0x2F, 0x55, 0x2F, 0xEC, 0x44, 0xDE, 0x60}}
// The standard's SMBIOS entry-point tables.
#define CONTRACT_SMBIOS_TABLE_GUID    {0xEB9D2D31, 0x2D88, 0x11D3, {0x9A, 0x16, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D}}
#define CONTRACT_SMBIOS3_TABLE_GUID   {0xF2FD1544, 0x9794, 0x4A2C, {0x99, 0x2E, 0xE5, 0xBB, 0xCF, 0x20, 0xE3, 0x94}}
// clang-format on

// The Setup variable's size and the byte that holds the boot delay in seconds.
#define CONTRACT_SETUP_SIZE 205
#define CONTRACT_SETUP_BOOT_DELAY 197
