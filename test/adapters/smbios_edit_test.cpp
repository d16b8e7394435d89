// SmbiosEditDxe over a PI SMBIOS store: copies of live records, replacement by
// handle (and the old record kept when the platform refuses the new one), and
// the stored DMI changes applied at End-of-DXE.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "efi/smbios.h"
#include "test/adapters/smbios_store.h"
#include "test/fake/fake.h"

extern "C" EFI_STATUS EFIAPI SmbiosEditEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

namespace {

const EFI_GUID kSmbiosGuid = EFI_SMBIOS_PROTOCOL_GUID;
const EFI_GUID kEditGuid = SMBIOS_EDIT_PROTOCOL_GUID;
const EFI_GUID kDmiGuid = {0x4B3082A3, 0x80C6, 0x4D7E, {0x9C, 0xD0, 0x58, 0x39, 0x17, 0x26, 0x5D, 0xF1}};
const EFI_GUID kEndOfDxe = EFI_END_OF_DXE_EVENT_GROUP_GUID;

using adaptertest::Bytes;
using adaptertest::Store;

// A type-1 record: header, strings 1-2, UUID at 8..23, wake-up type, SKU and
// family strings, then "Maker" and "Model".
Bytes SystemRecord(EFI_SMBIOS_HANDLE h) {
  Bytes r = {1, 27, static_cast<UINT8>(h), static_cast<UINT8>(h >> 8), 1, 2, 0, 0};
  for (int i = 0; i < 16; i++) r.push_back(static_cast<UINT8>(0xA0 + i));
  r.insert(r.end(), {6, 0, 0});
  for (char c : std::string("Maker")) r.push_back(c);
  r.push_back(0);
  for (char c : std::string("Model")) r.push_back(c);
  r.insert(r.end(), {0, 0});
  return r;
}
Bytes Processor(EFI_SMBIOS_HANDLE h, UINT8 id) { return {4, 8, static_cast<UINT8>(h), 0, id, 0, 0, 0, 0, 0}; }

// A platform whose SMBIOS store holds a type 0, the type-1 record (handle 1)
// and two processors; Start runs the adapter's entry.
struct Board {
  explicit Board(bool smbios = true) {
    store.recs = {{0x0000, producer, {0, 4, 0, 0, 0, 0}},
                  {0x0001, producer, SystemRecord(1)},
                  {0x0004, producer, Processor(4, 0x11)},
                  {0x0005, producer, Processor(5, 0x22)}};
    EFI_HANDLE h = nullptr;
    if (smbios) EXPECT_EQ(platform.Install(&h, kSmbiosGuid, &store.proto), EFI_SUCCESS);
  }
  ~Board() { EXPECT_EQ(platform.LivePoolCount(), 0u); }
  EFI_STATUS Start() {
    EFI_STATUS s = SmbiosEditEntry(platform.NewImageHandle(), platform.SystemTable());
    edit = static_cast<SMBIOS_EDIT_PROTOCOL *>(platform.Find(kEditGuid));
    return s;
  }
  Bytes Read(UINT8 type, UINT8 instance, EFI_STATUS expect = EFI_SUCCESS) {
    VOID *copy = nullptr;
    UINT16 size = 0;
    EXPECT_EQ(edit->ReadStructureByType(type, instance, &copy, &size), expect);
    if (copy == nullptr) return {};
    Bytes out(static_cast<UINT8 *>(copy), static_cast<UINT8 *>(copy) + size);
    platform.BootServices()->FreePool(copy);
    return out;
  }

  fake::Platform platform;
  Store store;
  EFI_HANDLE producer = reinterpret_cast<EFI_HANDLE>(0x5150);
  SMBIOS_EDIT_PROTOCOL *edit = nullptr;
};

TEST(SmbiosEdit, ReadsAPoolCopyOfTheInstanceAskedFor) {
  Board b;
  ASSERT_EQ(b.Start(), EFI_SUCCESS);
  EXPECT_EQ(b.Read(1, 1), SystemRecord(1));
  EXPECT_EQ(b.Read(4, 2), Processor(5, 0x22));
  b.Read(4, 3, EFI_NOT_FOUND);
  b.Read(2, 1, EFI_NOT_FOUND);
  b.Read(1, 0, EFI_INVALID_PARAMETER);
  UINT16 size = 0;
  EXPECT_EQ(b.edit->ReadStructureByType(1, 1, nullptr, &size), EFI_INVALID_PARAMETER);
}

TEST(SmbiosEdit, ReplacesTheLiveRecordUnderItsHandleAndProducer) {
  Board b;
  ASSERT_EQ(b.Start(), EFI_SUCCESS);
  Bytes r = b.Read(1, 1);
  for (int i = 8; i < 24; i++) r[i] = static_cast<UINT8>(i);
  Bytes caller = r;
  EXPECT_EQ(b.edit->WriteStructureByHandle(1, r.data(), static_cast<UINT16>(r.size())), EFI_SUCCESS);
  ASSERT_NE(b.store.Find(1), nullptr);
  EXPECT_EQ(b.store.Find(1)->bytes, r) << "UUID changed, strings kept";
  EXPECT_EQ(b.store.Find(1)->producer, b.producer);
  EXPECT_EQ(r, caller) << "the caller's copy is not written";
  EXPECT_EQ(b.store.recs.size(), 4u);
}

TEST(SmbiosEdit, RefusesAWriteItCannotCarryOutAndKeepsTheLiveRecord) {
  Board b;
  ASSERT_EQ(b.Start(), EFI_SUCCESS);
  const Bytes live = b.store.Find(1)->bytes;
  struct Case {
    const char *name;
    UINT16 handle;
    Bytes record;
    UINT16 size;  // 0: the record's own
    EFI_STATUS add_status, expected;
  };
  Bytes changed = live;
  changed[8] ^= 0xFF;
  Bytes other_type = changed;
  other_type[0] = 2;
  const Case cases[] = {
      {"unknown handle", 0x77, changed, 0, EFI_SUCCESS, EFI_NOT_FOUND},
      {"another type under the handle", 1, other_type, 0, EFI_SUCCESS, EFI_INVALID_PARAMETER},
      {"strings cut off by the size", 1, changed, static_cast<UINT16>(live.size() - 3), EFI_SUCCESS, EFI_INVALID_PARAMETER},
      {"formatted area shorter than a header", 1, {1, 2, 1, 0, 0, 0}, 0, EFI_SUCCESS, EFI_INVALID_PARAMETER},
      {"the platform refuses the new record", 1, changed, 0, EFI_OUT_OF_RESOURCES, EFI_OUT_OF_RESOURCES},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    b.store.add_status = c.add_status;
    Bytes r = c.record;
    EXPECT_EQ(b.edit->WriteStructureByHandle(c.handle, r.data(), c.size ? c.size : static_cast<UINT16>(r.size())), c.expected);
    ASSERT_NE(b.store.Find(1), nullptr);
    EXPECT_EQ(b.store.Find(1)->bytes, live);
    EXPECT_EQ(b.store.Find(1)->producer, b.producer);
    EXPECT_EQ(b.store.recs.size(), 4u);
  }
  EXPECT_EQ(b.edit->WriteStructureByHandle(1, nullptr, 10), EFI_INVALID_PARAMETER);
}

TEST(SmbiosEdit, AppliesTheStoredChangesAtEndOfDxe) {
  const Bytes identity = {'Q', 'R', '4', '8', 'T', '-', 'K', '2', 'V', 0, 0xF4, 0xB5, 0x20, 0x6B, 0x00, 0x01};
  const Bytes system = SystemRecord(1);
  const Bytes untouched(system.begin() + 8, system.begin() + 24);
  auto array = [](std::vector<Bytes> entries, size_t size = 1280) {
    Bytes a(size, 0);
    a[0] = static_cast<UINT8>(entries.size());
    for (size_t k = 0; k < entries.size(); k++)
      for (size_t i = 0; i < 5 && 5 * (k + 1) + i < size; i++) a[5 * (k + 1) + i] = entries[k][i];
    return a;
  };
  struct Case {
    const char *name;
    Bytes array;  // DmiArray, or empty for none
    std::vector<std::pair<const char *, Bytes>> values;
    Bytes uuid;           // the type-1 UUID after End-of-DXE
    UINT8 family_string;  // type-1 byte 26 after
    UINT8 processor_id;   // the first processor's byte 4 after
  };
  const Case cases[] = {
      {"the identity driver's entry", array({{1, 1, 0, 8, 0}}), {{"DmiVar0100010800", identity}}, identity, 0, 0x11},
      {"no DmiArray", {}, {{"DmiVar0100010800", identity}}, untouched, 0, 0x11},
      {"entry without its value", array({{1, 1, 0, 8, 0}}), {}, untouched, 0, 0x11},
      {"two entries, two types",
       array({{4, 4, 0, 4, 0}, {1, 1, 0, 26, 0}}),
       {{"DmiVar0400040400", {0x33}}, {"DmiVar0100011A00", {9}}},
       untouched,
       9,
       0x33},
      {"value reaching past the formatted area", array({{1, 1, 0, 20, 0}}), {{"DmiVar0100011400", identity}}, untouched, 0, 0x11},
      {"offset in the header", array({{1, 1, 0, 2, 0}}), {{"DmiVar0100010200", {7, 7}}}, untouched, 0, 0x11},
      {"count beyond the stored array", array({{1, 1, 0, 8, 0}}, 9), {{"DmiVar0100010800", identity}}, untouched, 0, 0x11},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Board b;
    if (!c.array.empty()) b.platform.SetVar("DmiArray", kDmiGuid, c.array);
    for (auto &[name, value] : c.values) b.platform.SetVar(name, kDmiGuid, value);
    ASSERT_EQ(b.Start(), EFI_SUCCESS);
    size_t events = b.platform.LiveEventCount();
    b.platform.SignalGroup(kEndOfDxe);
    EXPECT_EQ(b.platform.LiveEventCount(), events - 1) << "runs once";
    const Bytes &r = b.store.Find(1)->bytes;
    EXPECT_EQ(Bytes(r.begin() + 8, r.begin() + 24), c.uuid);
    EXPECT_EQ(r[26], c.family_string);
    EXPECT_EQ(r.size(), SystemRecord(1).size());
    EXPECT_EQ(b.store.Find(4)->bytes[4], c.processor_id);
    EXPECT_EQ(b.store.Find(5)->bytes, Processor(5, 0x22)) << "only the first record of a type";
  }
}

TEST(SmbiosEdit, WithoutThePiProtocolNothingIsInstalled) {
  Board b(false);
  EXPECT_EQ(b.Start(), EFI_NOT_FOUND);
  EXPECT_EQ(b.edit, nullptr);
  EXPECT_EQ(b.platform.LiveEventCount(), 0u);
}

}  // namespace
