// SPDX-License-Identifier: BSD-2-Clause-Patent
// libFuzzer target for the BMP decoder: any bytes, decoded once into an array
// the decoder allocates and once into a fixed caller array. The pool is plain
// malloc, so AddressSanitizer sees every read past the input and every write
// past an array.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "ui/bmp.h"
#include "ui/status_report.h"

EFI_BOOT_SERVICES *gBS;

namespace {

EFI_STATUS EFIAPI PoolAllocate(EFI_MEMORY_TYPE, UINTN size, VOID **buffer) {
  *buffer = malloc(size ? size : 1);
  return *buffer ? EFI_SUCCESS : EFI_OUT_OF_RESOURCES;
}

EFI_STATUS EFIAPI PoolFree(VOID *buffer) {
  free(buffer);
  return EFI_SUCCESS;
}

EFI_BOOT_SERVICES gBootServices;

// Reads every colour byte, so uninitialised or stale output would matter.
unsigned Touch(const EFI_GRAPHICS_OUTPUT_BLT_PIXEL *p, UINTN n) {
  unsigned sum = 0;
  for (UINTN i = 0; i < n; i++) sum += p[i].Blue + p[i].Green + p[i].Red;
  return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  gBootServices.AllocatePool = PoolAllocate;
  gBootServices.FreePool = PoolFree;
  gBS = &gBootServices;

  // An exact-size copy: libFuzzer's own buffer is exact too, but this keeps
  // the decoder away from anything libFuzzer owns.
  uint8_t *file = (uint8_t *)malloc(size ? size : 1);
  if (size) memcpy(file, data, size);

  volatile unsigned sink = 0;
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *blt = nullptr;
  UINTN bltSize = 0, height = 0, width = 0;
  EFI_STATUS s = BmpToBltBuffer(file, size, &blt, &bltSize, &height, &width);
  if (!EFI_ERROR(s)) {
    if (bltSize != width * height * sizeof *blt || bltSize > BMP_MAX_BLT_SIZE) abort();
    sink = sink + Touch(blt, width * height);
    free(blt);
  } else if (blt != nullptr) {
    abort();  // a failed decode hands back no array
  }

  static EFI_GRAPHICS_OUTPUT_BLT_PIXEL mine[1024];
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *caller = mine;
  bltSize = sizeof mine;
  s = BmpToBltBuffer(file, size, &caller, &bltSize, &height, &width);
  if (caller != mine) abort();
  if (!EFI_ERROR(s)) sink = sink + Touch(mine, width * height);
  free(file);
  (void)sink;
  return 0;
}
