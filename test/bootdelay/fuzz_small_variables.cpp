// SPDX-License-Identifier: BSD-2-Clause-Patent
// Fuzzes the two small drivers with their stored variables. Input: a selector
// byte (even: "Setup" for the boot delay, odd: "TAMDPstateData" for the
// P-state override), the CPUID signature to report (4 bytes, little endian),
// then the variable's bytes. Checks that the boot delay never stalls more than
// the 16-bit count plus one second, that the override touches only the seven
// P-state registers, and that both succeed whatever they read.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "bootdelay/boot_delay.h"
#include "drvlib/drvlib.h"
#include "pstate/pstate_override.h"
#include "test/fake/fake.h"
#include "test/fake/hw_model.h"
#include "test/contract.h"

namespace {

const EFI_GUID kSetupGuid = CONTRACT_SETUP_VARIABLE_GUID;
const EFI_GUID kPstateGuid = CONTRACT_PSTATE_VARIABLE_GUID;

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

uint64_t g_stalls;
EFI_STATUS EFIAPI CountStall(UINTN us) {
  Check(us == 1000000);
  g_stalls++;
  return EFI_SUCCESS;
}

struct Rig {
  fake::Platform plat;
  fake::HwModel hw;
  Rig() {
    plat.BootServices()->Stall = CountStall;
    hw.SetBrand("TestBed CPU 0000F 6-Core Processor");
    DrvLibKeepTables(plat.NewImageHandle(), plat.SystemTable());
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static Rig *rig = new Rig;
  if (size < 5 || size > 512) return 0;
  uint32_t signature;
  memcpy(&signature, data + 1, 4);
  rig->hw.SetCpuid(1, {signature, 0, 0, 0});
  rig->hw.SetCpuid(0x80000001, {signature, 0, 0, 0});
  rig->hw.ClearLog();
  std::vector<uint8_t> value(data + 5, data + size);
  g_stalls = 0;

  if ((data[0] & 1) == 0) {
    rig->plat.DeleteVar("Setup", kSetupGuid);
    if (!value.empty()) rig->plat.SetVar("Setup", kSetupGuid, value);
    Check(BootDelay() == EFI_SUCCESS);
    Check(g_stalls <= 65536);
    if (value.size() > 205) Check(g_stalls == 0);
  } else {
    rig->plat.DeleteVar("TAMDPstateData", kPstateGuid);
    if (!value.empty()) rig->plat.SetVar("TAMDPstateData", kPstateGuid, value);
    Check(PstateOverride() == EFI_SUCCESS);
    for (const fake::HwAccess &a : rig->hw.Log()) {
      if (a.kind == fake::HwAccess::MsrRead || a.kind == fake::HwAccess::MsrWrite)
        Check(a.address >= 0xC0010064 && a.address <= 0xC001006A);
      if (a.kind == fake::HwAccess::MsrWrite) Check(value.size() >= 8 && value.size() <= 29 && value[0] != 0 && (a.value >> 63) == 1);
    }
  }
  Check(rig->plat.LivePoolCount() == 0);
  return 0;
}
