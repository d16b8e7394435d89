// SPDX-License-Identifier: BSD-2-Clause-Patent
// A stand-in for the board's PCI Express configuration window at 0xE0000000,
// which QEMU's q35 machine does not have (its window lives elsewhere): two
// MiB of ordinary memory mapped at that address through the page tables, so
// that a driver's configuration reads there see bridges and a controller the
// test lays out. Also legacy configuration access (ports 0xCF8/0xCFC) to the
// machine's real devices and port input.
#pragma once
#include "test/bed/app/app.h"

#define BED_WINDOW_BASE 0xE0000000ULL
#define BED_WINDOW_SIZE 0x400000ULL  // buses 0 to 3
#define BED_WINDOW_PAGES 2           // 2 MiB pages

// Maps the memory behind Window (4 MiB, filled with 0xFF as absent devices
// read) at BED_WINDOW_BASE; Unmap puts the firmware's mapping back.
struct BedWindow {
  UINT8 *Memory;                   // the window's contents, as the test writes them
  EFI_PHYSICAL_ADDRESS Pages;      // the allocation behind it
  UINT64 *Entry;                   // the first page-table entry replaced
  UINT64 Saved[BED_WINDOW_PAGES];  // the old values
  UINTN Count;                     // entries replaced
  EFI_PHYSICAL_ADDRESS NewTable;   // a page directory made for the split, or 0
};
EFI_STATUS BedWindowMap(BedWindow *Window);
void BedWindowUnmap(BedWindow *Window);
// The byte offset of a configuration register inside the window.
inline UINTN BedWindowOffset(UINTN Bus, UINTN Device, UINTN Function, UINTN Register) {
  return (Bus << 20) + (Device << 15) + (Function << 12) + Register;
}

// Legacy configuration access to the machine's real PCI devices on bus 0.
UINT32 BedPciRead32(UINTN Device, UINTN Function, UINTN Register);
void BedPciWrite16(UINTN Device, UINTN Function, UINTN Register, UINT16 Value);
// The first device on bus 0 with VendorDevice (vendor in the low 16 bits); -1 if none.
INTN BedPciFind(UINT32 VendorDevice);
UINT8 BedIn8(UINT16 Port);
