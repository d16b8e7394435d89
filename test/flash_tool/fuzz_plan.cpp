// SPDX-License-Identifier: BSD-2-Clause-Patent
// The demo tool's plan parser against arbitrary text: it must stay inside the
// text it is given and keep every name and the mode terminated.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "examples/flash_tool/demo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  // An exact-size copy, so reading past the end is caught.
  std::vector<CHAR8> text(Data, Data + Size);
  DemoPlan plan;
  EFI_STATUS status = DemoParsePlan(text.data(), text.size(), &plan);
  if (status != EFI_SUCCESS && status != EFI_NOT_FOUND) abort();
  if (strnlen(plan.Mode, sizeof plan.Mode) == sizeof plan.Mode) abort();
  if (plan.DriverCount > DEMO_MAX_DRIVERS) abort();
  for (UINTN i = 0; i < plan.DriverCount; i++)
    if (strnlen(plan.Drivers[i].Name, sizeof plan.Drivers[i].Name) == sizeof plan.Drivers[i].Name) abort();
  return 0;
}
