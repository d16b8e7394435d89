// SPDX-License-Identifier: BSD-2-Clause-Patent
// Runtime scratch blocks that the full build keeps for runtime code linked
// with the library.
#include "drvlib/drvlib.h"

VOID *RuntimeScratch32;
VOID *RuntimeScratch100;
VOID *RuntimeScratch8;

namespace {

VOID *AllocateRuntime(UINTN Size) {
  VOID *Block = nullptr;
  if (EFI_ERROR(gBS->AllocatePool(EfiRuntimeServicesData, Size, &Block))) return nullptr;
  return Block;
}

}  // namespace

// The blocks live as long as the runtime image, so nothing frees them. The
// 32-byte block is handed out as allocated; the other two start zeroed.
EFI_STATUS RuntimeScratchConstructor(VOID) {
  RuntimeScratch32 = AllocateRuntime(32);
  if (RuntimeScratch32 == nullptr) return EFI_OUT_OF_RESOURCES;
  if (RuntimeScratch100 != nullptr) return EFI_SUCCESS;
  RuntimeScratch100 = AllocateRuntime(100);
  if (RuntimeScratch100 != nullptr) __builtin_memset(RuntimeScratch100, 0, 100);
  RuntimeScratch8 = AllocateRuntime(8);
  if (RuntimeScratch8 != nullptr) __builtin_memset(RuntimeScratch8, 0, 8);
  return RuntimeScratch100 != nullptr && RuntimeScratch8 != nullptr ? EFI_SUCCESS : EFI_OUT_OF_RESOURCES;
}
