// SPDX-License-Identifier: BSD-2-Clause-Patent
// BootDelayDxe: holds the boot for the number of seconds chosen in Setup, one
// second longer on family 19h models 6xh parts whose brand string has an "F"
// at character 16.
#include "bootdelay/boot_delay.h"
#include "drvlib/drvlib.h"
#include "hw.h"

namespace {

const EFI_GUID gSetupVariableGuid = SETUP_VARIABLE_GUID;
constexpr UINTN SETUP_SIZE = 205;
constexpr UINTN BOOT_DELAY_COUNT_OFFSET = 197;  // 16-bit little-endian
constexpr UINT32 FAMILY_MASK = 0x0FFF0F00;
constexpr UINT32 FAMILY19_MODEL6X = 0x00A60F00;
constexpr UINT32 ONE_SECOND = 1000000;

// The count from Setup; 0 when Setup is unreadable or too short to hold it.
UINT32 ReadBootDelayCount(BOOLEAN *Readable) {
  UINT8 Setup[SETUP_SIZE] = {};
  UINTN Size = sizeof(Setup);
  *Readable = 0;
  if (EFI_ERROR(gRT->GetVariable(u"Setup", &gSetupVariableGuid, nullptr, &Size, Setup))) return 0;
  *Readable = 1;
  // Only bytes that GetVariable returned are looked at.
  if (Size < BOOT_DELAY_COUNT_OFFSET + 2) return 0;
  return (UINT32)Setup[BOOT_DELAY_COUNT_OFFSET] | ((UINT32)Setup[BOOT_DELAY_COUNT_OFFSET + 1] << 8);
}

BOOLEAN NeedsExtraSecond(VOID) {
  if ((HwCpuid(0x80000001).Eax & FAMILY_MASK) != FAMILY19_MODEL6X) return 0;
  // Leaf 0x80000003 carries brand characters 16 to 31; EAX's low byte is 16.
  return (HwCpuid(0x80000003).Eax & 0xFF) == 'F';
}

}  // namespace

EFI_STATUS BootDelay(VOID) {
  BOOLEAN Readable;
  UINT32 Seconds = ReadBootDelayCount(&Readable);
  if (!Readable) return EFI_SUCCESS;
  if (NeedsExtraSecond()) Seconds++;
  for (UINT32 i = 0; i < Seconds; i++) gBS->Stall(ONE_SECOND);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI BootDelayEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  DrvLibStartup(ImageHandle, SystemTable);
  return BootDelay();
}
