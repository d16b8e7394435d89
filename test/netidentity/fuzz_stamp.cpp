// SPDX-License-Identifier: BSD-2-Clause-Patent
// Fuzzes the identity stamp with the stored DMI variables and the SMBIOS
// structure copy it reads. Input: a flag byte (bit 0: no DmiArray, bit 1: no
// WriteOnceStatus, bit 2: fail the array buffer allocation), six MAC bytes,
// then three blocks of a 16-bit little-endian length and that many bytes:
// DmiArray, WriteOnceStatus and the structure copy. Checks that nothing leaks,
// that stored variables the stamp cannot read in full stay as they were, and
// that DmiArray's count never claims entries it does not store.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "drvlib/drvlib.h"
#include "netidentity/netidentity.h"
#include "test/fake/fake.h"
#include "test/netidentity/smbios_double.h"
#include "test/contract.h"

namespace {

using Bytes = std::vector<uint8_t>;
const EFI_GUID kDmiGuid = CONTRACT_DMI_VARIABLE_GUID;

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

struct Rig {
  fake::Platform plat;
  nettest::SmbiosEditDouble smbios{plat};
  Rig() { DrvLibKeepTables(plat.NewImageHandle(), plat.SystemTable()); }
};

Bytes Take(const uint8_t *&p, const uint8_t *end, size_t limit) {
  if (end - p < 2) return {};
  size_t len = std::min<size_t>(p[0] | p[1] << 8, limit);
  p += 2;
  len = std::min<size_t>(len, end - p);
  Bytes b(p, p + len);
  p += len;
  return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static Rig *rig = new Rig;
  if (size < 7) return 0;
  fake::Platform &plat = rig->plat;
  const uint8_t flags = data[0];
  memcpy(NicProbeResult[0].Mac, data + 1, 6);
  NicProbeResult[0].Found = 1;
  const uint8_t *p = data + 7, *end = data + size;
  Bytes array = Take(p, end, 1400), writeOnce = Take(p, end, 80), structure = Take(p, end, 300);

  plat.DeleteVar("DmiArray", kDmiGuid);
  plat.DeleteVar("WriteOnceStatus", kDmiGuid);
  plat.DeleteVar("DmiVar0100010800", kDmiGuid);
  if (!(flags & 1) && !array.empty()) plat.SetVar("DmiArray", kDmiGuid, array);
  if (!(flags & 2) && !writeOnce.empty()) plat.SetVar("WriteOnceStatus", kDmiGuid, writeOnce);
  rig->smbios.Live() = structure;
  const size_t writesBefore = rig->smbios.Writes().size();
  const size_t poolBefore = plat.LivePoolCount();
  if (flags & 4) plat.FailAllocation(2);

  const EFI_STATUS status = StampSystemIdentity();
  plat.FailAllocation(0);

  Check(plat.LivePoolCount() == poolBefore);
  Check(!::testing::UnitTest::GetInstance()->ad_hoc_test_result().Failed());
  const bool stamped = status == EFI_SUCCESS;
  Check(stamped || plat.VarCount() == (size_t)plat.HasVar("DmiArray", kDmiGuid) + plat.HasVar("WriteOnceStatus", kDmiGuid));
  Check(rig->smbios.Writes().size() == writesBefore + (stamped ? 1 : 0));
  if (stamped) Check(structure.size() >= 24 && structure[1] >= 24);  // the UUID lies inside the structure

  if (!(flags & 1) && !array.empty()) {
    const Bytes after = plat.Var("DmiArray", kDmiGuid);
    if (array.size() > 1280 || !stamped) {
      Check(after == array);
    } else if (after != array) {
      Check(after.size() <= 1280 && after[0] == array[0] + 1);
      Check(after.size() >= 5 * ((size_t)after[0] + 1));
    }
  }
  if (!(flags & 2) && !writeOnce.empty() && (writeOnce.size() != 64 || !stamped)) {
    Check(plat.Var("WriteOnceStatus", kDmiGuid) == writeOnce);
  }
  if (plat.HasVar("WriteOnceStatus", kDmiGuid)) Check(plat.Var("WriteOnceStatus", kDmiGuid).size() == 64 || writeOnce.size() != 64);
  return 0;
}
