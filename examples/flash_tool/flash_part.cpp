// SPDX-License-Identifier: BSD-2-Clause-Patent
// The emulated flash part: memory pages the tool allocates, with the erase
// and program rules of NOR flash, so that the demo never touches the
// firmware's own flash and still exercises an erase-program-verify cycle.
#include "examples/flash_tool/demo.h"

EFI_STATUS FlashOpen(FlashPart *Part, UINTN Size) {
  *Part = {};
  if (Size == 0 || Size % FLASH_BLOCK_SIZE != 0) return EFI_INVALID_PARAMETER;
  EFI_PHYSICAL_ADDRESS base = 0;
  EFI_STATUS status = gBS->AllocatePages(AllocateAnyPages, EfiBootServicesData, Size / 4096, &base);
  if (EFI_ERROR(status)) return status;
  Part->Base = (UINT8 *)(UINTN)base;
  Part->Size = Size;
  // A part that starts out holding old contents, not erased.
  gBS->SetMem(Part->Base, Size, 0x5A);
  Part->EraseMicroseconds = 40 * 1000;
  Part->ProgramMicroseconds = 1500;
  return EFI_SUCCESS;
}

VOID FlashClose(FlashPart *Part) {
  if (Part->Base != nullptr) gBS->FreePages((EFI_PHYSICAL_ADDRESS)(UINTN)Part->Base, Part->Size / 4096);
  *Part = {};
}

EFI_STATUS FlashEraseBlock(FlashPart *Part, UINTN Offset) {
  if (Offset % FLASH_BLOCK_SIZE != 0 || Offset >= Part->Size) return EFI_INVALID_PARAMETER;
  gBS->SetMem(Part->Base + Offset, FLASH_BLOCK_SIZE, 0xFF);
  Part->Erases++;
  if (Part->EraseMicroseconds) gBS->Stall(Part->EraseMicroseconds);
  return EFI_SUCCESS;
}

EFI_STATUS FlashProgram(FlashPart *Part, UINTN Offset, const UINT8 *Data, UINTN Length) {
  UINTN end = 0;
  if (__builtin_add_overflow(Offset, Length, &end) || end > Part->Size) return EFI_INVALID_PARAMETER;
  for (UINTN i = 0; i < Length; i++) Part->Base[Offset + i] &= Data[i];
  UINTN pages = (Length + FLASH_PAGE_SIZE - 1) / FLASH_PAGE_SIZE;
  Part->Programs += pages;
  if (Part->ProgramMicroseconds) gBS->Stall(Part->ProgramMicroseconds * pages);
  return EFI_SUCCESS;
}

UINTN FlashCompare(const FlashPart *Part, UINTN Offset, const UINT8 *Data, UINTN Length) {
  UINTN end = 0;
  if (__builtin_add_overflow(Offset, Length, &end) || end > Part->Size) return 0;
  for (UINTN i = 0; i < Length; i++)
    if (Part->Base[Offset + i] != Data[i]) return i;
  return Length;
}
