// SPDX-License-Identifier: BSD-2-Clause-Patent
// The memory-backed configuration window and real PCI access for the tests.
#include "test/bed/app/window.h"

static inline void Out32(UINT16 Port, UINT32 Value) { __asm__ volatile("outl %0, %1" : : "a"(Value), "Nd"(Port)); }
static inline UINT32 In32(UINT16 Port) {
  UINT32 v;
  __asm__ volatile("inl %1, %0" : "=a"(v) : "Nd"(Port));
  return v;
}
static inline void Out16(UINT16 Port, UINT16 Value) { __asm__ volatile("outw %0, %1" : : "a"(Value), "Nd"(Port)); }

UINT8 BedIn8(UINT16 Port) {
  UINT8 v;
  __asm__ volatile("inb %1, %0" : "=a"(v) : "Nd"(Port));
  return v;
}

static UINT32 Address(UINTN Device, UINTN Function, UINTN Register) {
  return 0x80000000U | (UINT32)(Device << 11) | (UINT32)(Function << 8) | (UINT32)(Register & 0xFC);
}

UINT32 BedPciRead32(UINTN Device, UINTN Function, UINTN Register) {
  Out32(0xCF8, Address(Device, Function, Register));
  return In32(0xCFC);
}

void BedPciWrite16(UINTN Device, UINTN Function, UINTN Register, UINT16 Value) {
  Out32(0xCF8, Address(Device, Function, Register));
  Out16((UINT16)(0xCFC + (Register & 2)), Value);
}

INTN BedPciFind(UINT32 VendorDevice) {
  for (UINTN d = 0; d < 32; d++)
    if (BedPciRead32(d, 0, 0) == VendorDevice) return (INTN)d;
  return -1;
}

// ---- Page tables ----

#define PTE_PRESENT 0x1ULL
#define PTE_WRITE 0x2ULL
#define PTE_LARGE 0x80ULL
#define PTE_ADDRESS 0x000FFFFFFFFFF000ULL
#define PTE_LARGE_FLAGS 0x8000000000001FFFULL  // flags of a 1 GiB or 2 MiB entry, PAT included

static inline UINT64 ReadCr0() {
  UINT64 v;
  __asm__ volatile("mov %%cr0, %0" : "=r"(v));
  return v;
}
static inline void WriteCr0(UINT64 v) { __asm__ volatile("mov %0, %%cr0" : : "r"(v) : "memory"); }
static inline UINT64 ReadCr3() {
  UINT64 v;
  __asm__ volatile("mov %%cr3, %0" : "=r"(v));
  return v;
}
static inline void WriteCr3(UINT64 v) { __asm__ volatile("mov %0, %%cr3" : : "r"(v) : "memory"); }
static inline UINT64 ReadCr4() {
  UINT64 v;
  __asm__ volatile("mov %%cr4, %0" : "=r"(v));
  return v;
}

// Writes one entry with write protection off (the firmware may keep its
// page tables read-only) and interrupts held, then flushes the TLB.
static void SetEntry(UINT64 *Entry, UINT64 Value) {
  UINT64 flags;
  __asm__ volatile("pushfq; popq %0; cli" : "=r"(flags) : : "memory");
  UINT64 cr0 = ReadCr0();
  WriteCr0(cr0 & ~(1ULL << 16));
  *(volatile UINT64 *)Entry = Value;
  WriteCr0(cr0);
  WriteCr3(ReadCr3());
  if (flags & 0x200) __asm__ volatile("sti" : : : "memory");
}

#define WINDOW_ALLOCATION (2 * BED_WINDOW_SIZE / EFI_PAGE_SIZE)  // room for an aligned window

EFI_STATUS BedWindowMap(BedWindow *W) {
  *W = {};
  if (ReadCr4() & (1ULL << 12)) return EFI_UNSUPPORTED;  // five-level paging: not handled here
  EFI_STATUS status = gBS->AllocatePages(AllocateAnyPages, EfiBootServicesData, WINDOW_ALLOCATION, &W->Pages);
  if (EFI_ERROR(status)) return status;
  UINT64 block = (W->Pages + BED_WINDOW_SIZE - 1) & ~(BED_WINDOW_SIZE - 1);
  W->Memory = (UINT8 *)(UINTN)block;
  gBS->SetMem(W->Memory, BED_WINDOW_SIZE, 0xFF);

  UINT64 *pml4 = (UINT64 *)(UINTN)(ReadCr3() & PTE_ADDRESS);
  UINT64 *pdpt = (UINT64 *)(UINTN)(pml4[(BED_WINDOW_BASE >> 39) & 511] & PTE_ADDRESS);
  UINT64 *pdpte = &pdpt[(BED_WINDOW_BASE >> 30) & 511];
  UINTN first = (BED_WINDOW_BASE >> 21) & 511;
  const UINT64 mappedFlags = PTE_PRESENT | PTE_WRITE | PTE_LARGE | 0x60;  // accessed, dirty
  if (*pdpte & PTE_LARGE) {
    // A 1 GiB page: replace it by a directory of 2 MiB pages with the same
    // attributes, of which the window's point at its memory.
    status = gBS->AllocatePages(AllocateAnyPages, EfiBootServicesData, 1, &W->NewTable);
    if (EFI_ERROR(status)) {
      gBS->FreePages(W->Pages, WINDOW_ALLOCATION);
      return status;
    }
    UINT64 *pd = (UINT64 *)(UINTN)W->NewTable;
    UINT64 base = *pdpte & 0x000FFFFFC0000000ULL;
    UINT64 flags = *pdpte & PTE_LARGE_FLAGS;
    for (UINTN i = 0; i < 512; i++) pd[i] = (base + i * 0x200000ULL) | flags;
    for (UINTN i = 0; i < BED_WINDOW_PAGES; i++) pd[first + i] = (block + i * 0x200000ULL) | mappedFlags;
    W->Entry = pdpte;
    W->Saved[0] = *pdpte;
    W->Count = 1;
    SetEntry(pdpte, W->NewTable | PTE_PRESENT | PTE_WRITE | (*pdpte & 0x4));
  } else {
    UINT64 *pd = (UINT64 *)(UINTN)(*pdpte & PTE_ADDRESS);
    W->Entry = &pd[first];
    W->Count = BED_WINDOW_PAGES;
    for (UINTN i = 0; i < BED_WINDOW_PAGES; i++) {
      W->Saved[i] = W->Entry[i];
      SetEntry(&W->Entry[i], (block + i * 0x200000ULL) | mappedFlags);
    }
  }
  // The mapping must show the memory: a marker written through one address
  // reads back through the other, at both ends.
  BOOLEAN ok = 1;
  static const UINTN ends[] = {0, BED_WINDOW_SIZE - 1};
  for (UINTN at : ends) {
    W->Memory[at] = 0x5A;
    ok = ok && *(volatile UINT8 *)(UINTN)(BED_WINDOW_BASE + at) == 0x5A;
    W->Memory[at] = 0xFF;
  }
  if (!ok) {
    BedWindowUnmap(W);
    return EFI_DEVICE_ERROR;
  }
  return EFI_SUCCESS;
}

void BedWindowUnmap(BedWindow *W) {
  for (UINTN i = 0; i < W->Count; i++) SetEntry(&W->Entry[i], W->Saved[i]);
  if (W->NewTable) gBS->FreePages(W->NewTable, 1);
  if (W->Pages) gBS->FreePages(W->Pages, WINDOW_ALLOCATION);
  *W = {};
}
