// Fuzzes the stored DMI changes that SmbiosEditDxe applies at End-of-DXE.
// Input: DmiArray as a 16-bit little-endian length and that many bytes, then
// up to four values the same way, stored as the DmiVar variables that the
// array's first four entries name. Checks that nothing leaks and that every
// record keeps its header, size and strings, whatever the variables hold.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "test/adapters/smbios_store.h"
#include "test/fake/fake.h"

extern "C" EFI_STATUS EFIAPI SmbiosEditEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

namespace {

using adaptertest::Bytes;
using adaptertest::Store;
const EFI_GUID kDmiGuid = {0x4B3082A3, 0x80C6, 0x4D7E, {0x9C, 0xD0, 0x58, 0x39, 0x17, 0x26, 0x5D, 0xF1}};
const EFI_GUID kSmbiosGuid = EFI_SMBIOS_PROTOCOL_GUID;
const EFI_GUID kEditGuid = SMBIOS_EDIT_PROTOCOL_GUID;
const EFI_GUID kEndOfDxe = EFI_END_OF_DXE_EVENT_GROUP_GUID;

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

std::vector<Store::Rec> Baseline() {
  Bytes system = {1, 27, 1, 0, 1, 2, 0, 0};
  for (int i = 0; i < 19; i++) system.push_back(static_cast<uint8_t>(0xA0 + i));
  for (char c : std::string("Maker")) system.push_back(c);
  system.insert(system.end(), {0, 'M', 0, 0});
  return {{0, nullptr, {0, 4, 0, 0, 0, 0}},
          {1, nullptr, system},
          {4, nullptr, {4, 8, 4, 0, 1, 2, 3, 4, 0, 0}},
          {9, nullptr, {127, 4, 9, 0, 0, 0}}};
}

struct Rig {
  fake::Platform plat;
  Store store;
  EFI_HANDLE image;
  Rig() {
    EFI_HANDLE h = nullptr;
    plat.Install(&h, kSmbiosGuid, &store.proto);
    image = plat.NewImageHandle();
  }
};

Bytes Take(const uint8_t *&p, const uint8_t *end, size_t limit) {
  if (end - p < 2) return {};
  size_t len = p[0] | p[1] << 8;
  p += 2;
  if (len > limit) len = limit;
  if (len > static_cast<size_t>(end - p)) len = end - p;
  Bytes b(p, p + len);
  p += len;
  return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // A fresh platform each time: the adapter's event and protocol go with it.
  Rig local;
  Rig *rig = &local;
  fake::Platform &plat = rig->plat;
  rig->store.recs = Baseline();

  const uint8_t *p = data, *end = data + size;
  Bytes array = Take(p, end, 1400);
  if (!array.empty()) plat.SetVar("DmiArray", kDmiGuid, array);
  for (size_t k = 1; k <= 4 && 5 * k + 4 < array.size() && p < end; k++) {
    char name[17];
    const uint8_t *e = &array[5 * k];
    snprintf(name, sizeof name, "DmiVar%02X%04X%02X%02X", e[0], e[1] | e[2] << 8, e[3], e[4]);
    Bytes value = Take(p, end, 300);
    if (value.empty()) continue;
    plat.SetVar(name, kDmiGuid, value);
  }

  Check(SmbiosEditEntry(rig->image, plat.SystemTable()) == EFI_SUCCESS);
  plat.SignalGroup(kEndOfDxe);
  VOID *edit = plat.Find(kEditGuid);
  plat.BootServices()->UninstallProtocolInterface(rig->image, &kEditGuid, edit);

  const std::vector<Store::Rec> before = Baseline();
  Check(plat.LivePoolCount() == 0);
  Check(rig->store.recs.size() == before.size());
  for (size_t i = 0; i < before.size(); i++) {
    const Bytes &was = before[i].bytes, &now = rig->store.recs[i].bytes;
    Check(rig->store.recs[i].handle == before[i].handle && now.size() == was.size());
    for (size_t j = 0; j < was.size(); j++) Check(now[j] == was[j] || (j >= 4 && j < was[1]));
  }
  return 0;
}
