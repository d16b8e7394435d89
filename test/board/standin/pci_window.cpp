// SPDX-License-Identifier: BSD-2-Clause-Patent
// The board's PCI Express configuration window sits at 0xE0000000; QEMU's
// q35 machine puts its window at 0xB0000000. At End-of-DXE, ahead of the
// drivers that read bridges there, this stand-in maps the board's address
// onto the machine's window through the page tables (buses 0 to 15, 2 MiB
// pages, uncached), so configuration reads at the board's address reach the
// machine's real bridges and devices.
#include "test/bed/standin/standin.h"

#define BOARD_WINDOW 0xE0000000ULL
#define MACHINE_WINDOW 0xB0000000ULL
#define ALIAS_SIZE 0x1000000ULL  // buses 0 to 15
#define LARGE_PAGE 0x200000ULL

#define PTE_PRESENT 0x1ULL
#define PTE_WRITE 0x2ULL
#define PTE_PWT 0x8ULL
#define PTE_PCD 0x10ULL
#define PTE_LARGE 0x80ULL
#define PTE_ADDRESS 0x000FFFFFFFFFF000ULL
#define PTE_LARGE_FLAGS 0x8000000000001FFFULL

static EFI_PHYSICAL_ADDRESS SplitTable;  // a page directory, taken at load while allocation is plain

static inline UINT64 ReadCr3() {
  UINT64 v;
  __asm__ volatile("mov %%cr3, %0" : "=r"(v));
  return v;
}

// Page-table writes with write protection off (the firmware may keep its
// tables read-only) and interrupts held; the TLB is flushed after.
static void SetEntries(UINT64 *Entry, const UINT64 *Values, UINTN Count) {
  UINT64 flags, cr0;
  __asm__ volatile("pushfq; popq %0; cli" : "=r"(flags) : : "memory");
  __asm__ volatile("mov %%cr0, %0" : "=r"(cr0));
  __asm__ volatile("mov %0, %%cr0" : : "r"(cr0 & ~(1ULL << 16)) : "memory");
  for (UINTN i = 0; i < Count; i++) ((volatile UINT64 *)Entry)[i] = Values[i];
  __asm__ volatile("mov %0, %%cr0" : : "r"(cr0) : "memory");
  __asm__ volatile("mov %0, %%cr3" : : "r"(ReadCr3()) : "memory");
  if (flags & 0x200) __asm__ volatile("sti" : : : "memory");
}

static UINT32 Read32(UINT64 Address) { return *(volatile UINT32 *)(UINTN)Address; }

static VOID EFIAPI MapWindow(EFI_EVENT Event, VOID *) {
  gBS->CloseEvent(Event);
  UINT64 cr4;
  __asm__ volatile("mov %%cr4, %0" : "=r"(cr4));
  if (cr4 & (1ULL << 12)) {  // five-level paging is not handled here
    BedPrint("BOARD pci-window: not mapped (five-level paging)\n");
    return;
  }
  UINT64 *pml4 = (UINT64 *)(UINTN)(ReadCr3() & PTE_ADDRESS);
  UINT64 *pdpt = (UINT64 *)(UINTN)(pml4[(BOARD_WINDOW >> 39) & 511] & PTE_ADDRESS);
  UINT64 *pdpte = &pdpt[(BOARD_WINDOW >> 30) & 511];
  UINTN first = (BOARD_WINDOW >> 21) & 511;
  UINT64 alias[ALIAS_SIZE / LARGE_PAGE];
  for (UINTN i = 0; i < ALIAS_SIZE / LARGE_PAGE; i++)
    alias[i] = (MACHINE_WINDOW + i * LARGE_PAGE) | PTE_PRESENT | PTE_WRITE | PTE_PWT | PTE_PCD | PTE_LARGE | 0x60;
  if (*pdpte & PTE_LARGE) {
    // A 1 GiB page: a directory of 2 MiB pages with its attributes replaces it.
    UINT64 *pd = (UINT64 *)(UINTN)SplitTable;
    UINT64 base = *pdpte & 0x000FFFFFC0000000ULL, flags = *pdpte & PTE_LARGE_FLAGS;
    for (UINTN i = 0; i < 512; i++) pd[i] = (base + i * LARGE_PAGE) | flags;
    for (UINTN i = 0; i < ALIAS_SIZE / LARGE_PAGE; i++) pd[first + i] = alias[i];
    UINT64 entry = SplitTable | PTE_PRESENT | PTE_WRITE | (*pdpte & 0x4);
    SetEntries(pdpte, &entry, 1);
  } else {
    UINT64 *pd = (UINT64 *)(UINTN)(*pdpte & PTE_ADDRESS);
    SetEntries(&pd[first], alias, ALIAS_SIZE / LARGE_PAGE);
  }
  // The host bridge's identity must read the same through both addresses.
  UINT32 seen = Read32(BOARD_WINDOW), real = Read32(MACHINE_WINDOW);
  BedPrint("BOARD pci-window: %lx -> %lx, 00:00.0 reads %08x (machine window %08x)\n", BOARD_WINDOW, MACHINE_WINDOW, seen, real);
}

extern "C" EFI_STATUS EFIAPI BoardPciWindowEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  (void)ImageHandle;
  gST = SystemTable;
  gBS = SystemTable->BootServices;
  EFI_STATUS status = gBS->AllocatePages(AllocateAnyPages, EfiBootServicesData, 1, &SplitTable);
  if (EFI_ERROR(status)) return status;
  static const EFI_GUID endOfDxe = EFI_END_OF_DXE_EVENT_GROUP_GUID;
  EFI_EVENT event = nullptr;
  status = gBS->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_NOTIFY, MapWindow, nullptr, &endOfDxe, &event);
  if (EFI_ERROR(status)) gBS->FreePages(SplitTable, 1);
  return status;
}
