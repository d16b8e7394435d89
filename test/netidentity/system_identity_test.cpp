// SPDX-License-Identifier: BSD-2-Clause-Patent
// The identity stamp: which MACs are stamped, what the three DMI variables
// and the live structure end up holding, and the stored-variable shapes the
// stamp must survive without writing outside what it read.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "netidentity/netidentity.h"
#include "test/drvlib/lib_support.h"
#include "test/fake/fake.h"
#include "test/netidentity/smbios_double.h"
#include "test/contract.h"

namespace {

using Bytes = std::vector<uint8_t>;

const EFI_GUID kDmiGuid = CONTRACT_DMI_VARIABLE_GUID;
const Bytes kMac = {0xF4, 0xB5, 0x20, 0x6C, 0xA1, 0xB2};

Bytes Identity(const Bytes &mac) {
  Bytes b = {'Q', 'R', '4', '8', 'T', '-', 'K', '2', 'V', 0};
  b.insert(b.end(), mac.begin(), mac.end());
  return b;
}

Bytes FreeWriteOnce() {
  Bytes t(64, 0);
  for (size_t i = 0; i < 64; i += 4) t[i] = 0x7F;
  return t;
}

// Fails GetVariable for one variable name only.
struct FailOneVariable {
  static inline std::string name;
  static inline EFI_STATUS status;
  static inline decltype(EFI_RUNTIME_SERVICES::GetVariable) real;
  static EFI_STATUS EFIAPI Thunk(const CHAR16 *n, const EFI_GUID *g, UINT32 *a, UINTN *s, VOID *d) {
    if (fake::Narrow(n) == name) return status;
    return real(n, g, a, s, d);
  }
};

class Stamp : public ::testing::Test {
 protected:
  void SetUp() override {
    // Refusals are logged through the library's debug print.
    libtest::ResetDrvLib();
    DrvLibKeepTables(platform.NewImageHandle(), platform.SystemTable());
    SetMac(kMac);
  }
  void TearDown() override {
    EXPECT_EQ(platform.LivePoolCount(), 0u) << "structure copy or array buffer leaked";
    libtest::ResetDrvLib();
  }

  void SetMac(const Bytes &mac, UINT64 found = 1) {
    NicProbeResult[0].Found = found;
    memcpy(NicProbeResult[0].Mac, mac.data(), 6);
  }
  Bytes Var(const char *name) { return platform.Var(name, kDmiGuid); }
  // Stores a variable, stamps once and reads the variable back.
  Bytes StampWith(const char *name, const Bytes &stored) {
    platform.SetVar(name, kDmiGuid, stored);
    EXPECT_EQ(StampSystemIdentity(), EFI_SUCCESS);
    return Var(name);
  }
  bool Has(const char *name) { return platform.HasVar(name, kDmiGuid); }
  // Nothing written, and the refusal's cause as the one new debug line.
  void ExpectRefused(const std::string &cause) {
    EXPECT_EQ(platform.SetVariableCalls(), 0u);
    EXPECT_TRUE(smbios.Writes().empty());
    ExpectLoggedRefusal(cause);
  }
  void ExpectLoggedRefusal(const std::string &cause) {
    ASSERT_EQ(debug.Messages().size(), logged_ + 1) << cause;
    EXPECT_EQ(debug.Messages().back().text, "[StampSystemIdentity] not stamped: " + cause + "\n");
    EXPECT_EQ(debug.Messages().back().level, 0x40u);
    logged_ = debug.Messages().size();
  }
  Bytes Uuid() { return Bytes(smbios.Live().begin() + 8, smbios.Live().begin() + 24); }

  fake::Platform platform;
  nettest::SmbiosEditDouble smbios{platform};
  libtest::DebugPrintDouble debug{platform};
  size_t logged_ = 0;
};

TEST_F(Stamp, OnlyMacsAboveTheBoardRangeFloorAndNotAllOnesAreStamped) {
  struct Case {
    Bytes mac;
    bool stamped;
  } cases[] = {
      {{0xF4, 0xB5, 0x20, 0x6A, 0xFF, 0xFF}, false}, {{0xF4, 0xB5, 0x20, 0x6B, 0x00, 0x00}, true},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, false}, {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}, true},
      {{0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, false}, {{0xF5, 0x00, 0x00, 0x00, 0x00, 0x00}, true},  // first byte most significant
      {{0x00, 0xB5, 0x20, 0x6B, 0xFF, 0xFF}, false},
  };
  // Both records already hold the driver's entry, so a stamp writes only
  // DmiVar0100010800.
  platform.SetVar("DmiArray", kDmiGuid, {1, 0, 0, 0, 0, 1, 1, 0, 8, 0});
  Bytes writeOnce = FreeWriteOnce();
  writeOnce[0] = 1, writeOnce[1] = 8, writeOnce[2] = 1, writeOnce[3] = 0;
  platform.SetVar("WriteOnceStatus", kDmiGuid, writeOnce);
  for (const Case &c : cases) {
    const uint64_t vars = platform.SetVariableCalls();
    const size_t writes = smbios.Writes().size();
    const int reads = smbios.Reads();
    SetMac(c.mac);
    EXPECT_EQ(StampSystemIdentity(), c.stamped ? EFI_SUCCESS : EFI_UNSUPPORTED);
    EXPECT_EQ(smbios.Writes().size() - writes, c.stamped ? 1u : 0u);
    EXPECT_EQ(platform.SetVariableCalls() - vars, c.stamped ? 1u : 0u);
    EXPECT_EQ(smbios.Reads() - reads, c.stamped ? 1 : 0) << "nothing is asked of SMBIOS for a MAC that is not stamped";
    EXPECT_EQ(platform.LivePoolCount(), 0u);
    if (!c.stamped) ExpectLoggedRefusal("the MAC is not the board's own");
    EXPECT_EQ(debug.Messages().size(), logged_) << "a stamp logs nothing";
  }
}

TEST_F(Stamp, NoControllerOrNoSmbiosDriverWritesNothing) {
  SetMac(kMac, 0);
  EXPECT_EQ(StampSystemIdentity(), EFI_UNSUPPORTED);
  ExpectRefused("no network controller");

  SetMac(kMac);
  const EFI_GUID smbiosGuid = SMBIOS_EDIT_PROTOCOL_GUID;
  platform.FailLocate(smbiosGuid, EFI_NOT_FOUND);
  EXPECT_EQ(StampSystemIdentity(), EFI_UNSUPPORTED);
  ExpectRefused("no SMBIOS edit protocol");
}

TEST_F(Stamp, FirstBootCreatesAllThreeVariablesAndStampsTheUuid) {
  const Bytes before = smbios.Live();
  EXPECT_EQ(StampSystemIdentity(), EFI_SUCCESS);

  Bytes array = Var("DmiArray");
  ASSERT_EQ(array.size(), 1280u);
  EXPECT_EQ(array[0], 1);
  EXPECT_EQ(Bytes(array.begin() + 1, array.begin() + 10), (Bytes{0, 0, 0, 0, 0x01, 0x01, 0x00, 0x08, 0x00}));
  EXPECT_EQ(std::count(array.begin() + 10, array.end(), 0), 1270);

  EXPECT_EQ(Var("DmiVar0100010800"), Identity(kMac));
  Bytes writeOnce = FreeWriteOnce();
  writeOnce[0] = 0x01, writeOnce[1] = 0x08, writeOnce[2] = 0x01, writeOnce[3] = 0x00;
  EXPECT_EQ(Var("WriteOnceStatus"), writeOnce) << "a missing table starts as sixteen free entries";
  for (const char *name : {"DmiArray", "DmiVar0100010800", "WriteOnceStatus"})
    EXPECT_EQ(platform.VarAttributes(name, kDmiGuid), 7u) << name;

  ASSERT_EQ(smbios.Writes().size(), 1u);
  const nettest::SmbiosWrite &w = smbios.Writes()[0];
  EXPECT_EQ(w.handle, 0x0001);
  EXPECT_EQ(w.size, before.size());
  Bytes expected = before;
  const Bytes id = Identity(kMac);
  std::copy(id.begin(), id.end(), expected.begin() + 8);
  EXPECT_EQ(w.bytes, expected) << "only the UUID changes";
}

TEST_F(Stamp, StructureIsWrittenBackUnderItsOwnHandle) {
  const uint8_t uuid[16] = {};
  smbios.SetSystemInformation(0x0102, uuid);
  EXPECT_EQ(StampSystemIdentity(), EFI_SUCCESS);
  ASSERT_EQ(smbios.Writes().size(), 1u);
  EXPECT_EQ(smbios.Writes()[0].handle, 0x0102);
  // The recorded entry still names handle 1, whatever the live handle.
  EXPECT_EQ(Var("DmiArray")[6], 0x01);
  EXPECT_EQ(Var("DmiArray")[7], 0x00);
}

TEST_F(Stamp, UuidAlreadyEndingWithTheMacChangesNothing) {
  uint8_t uuid[16] = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
  memcpy(uuid + 10, kMac.data(), 6);
  smbios.SetSystemInformation(1, uuid);
  EXPECT_EQ(StampSystemIdentity(), EFI_UNSUPPORTED);
  ExpectRefused("the identity is already in place");

  uuid[15] ^= 1;  // one byte differs: stamped
  smbios.SetSystemInformation(1, uuid);
  EXPECT_EQ(StampSystemIdentity(), EFI_SUCCESS);
  EXPECT_EQ(Uuid(), Identity(kMac));
}

TEST_F(Stamp, ArrayHoldingOurEntryWithAnotherFifthByteIsLeftAlone) {
  Bytes array(1280, 0);
  array[0] = 2;
  const Bytes e1 = {0x02, 0x05, 0x00, 0x04, 0x00}, ours = {0x01, 0x01, 0x00, 0x08, 0x6D};
  std::copy(e1.begin(), e1.end(), array.begin() + 5);
  std::copy(ours.begin(), ours.end(), array.begin() + 10);
  EXPECT_EQ(StampWith("DmiArray", array), array);
}

TEST_F(Stamp, ArrayWithoutOurEntryGetsItAppended) {
  Bytes array(1280, 0);
  array[0] = 3;
  array[1] = 0xA1, array[4] = 0xA4;  // bytes 1-4 of a foreign array are kept
  const Bytes near[3] = {{0x01, 0x01, 0x00, 0x09, 0}, {0x01, 0x02, 0x00, 0x08, 0}, {0x02, 0x01, 0x00, 0x08, 0}};
  for (int k = 0; k < 3; k++) std::copy(near[k].begin(), near[k].end(), array.begin() + 5 * (k + 1));
  array[24] = 0x5E;  // the new entry's fifth byte keeps what the array holds
  Bytes want = array;
  want[0] = 4;
  want[20] = 0x01, want[21] = 0x01, want[22] = 0x00, want[23] = 0x08;
  EXPECT_EQ(StampWith("DmiArray", array), want);
}

TEST_F(Stamp, AppendKeepsTheStoredSizeWhenItHoldsTheNewEntry) {
  Bytes array(40, 0);
  array[0] = 3;
  platform.SetVar("DmiArray", kDmiGuid, array);
  EXPECT_EQ(StampSystemIdentity(), EFI_SUCCESS);
  Bytes got = Var("DmiArray");
  ASSERT_EQ(got.size(), 40u);
  EXPECT_EQ(got[0], 4);
  EXPECT_EQ(Bytes(got.begin() + 20, got.begin() + 25), (Bytes{1, 1, 0, 8, 0}));
}

// A stored array too short for the new entry is written back long
// enough to hold it, never with a count that claims unstored entries.
TEST_F(Stamp, ShortArrayIsWrittenBackLongEnoughForTheNewEntry) {
  Bytes array = {3, 0xB1, 0xB2, 0xB3, 0xB4, 0x02, 0x07, 0x00, 0x04, 0x00, 0x03, 0x07};  // 12 bytes
  Bytes want = array;
  want.resize(25, 0);
  want[0] = 4;
  want[20] = 1, want[21] = 1, want[22] = 0, want[23] = 8;
  EXPECT_EQ(StampWith("DmiArray", array), want);

  // The entries the count claims but the variable does not hold are not
  // matched against: a one-byte array counting 200 entries.
  platform.SetVar("DmiArray", kDmiGuid, {200});
  const uint8_t uuid[16] = {};
  smbios.SetSystemInformation(1, uuid);
  EXPECT_EQ(StampSystemIdentity(), EFI_SUCCESS);
  Bytes got = Var("DmiArray");
  ASSERT_EQ(got.size(), 1010u);
  EXPECT_EQ(got[0], 201);
  EXPECT_EQ(Bytes(got.begin() + 1005, got.end()), (Bytes{1, 1, 0, 8, 0}));
  EXPECT_EQ(std::count(got.begin() + 1, got.begin() + 1005, 0), 1004);
}

// A full array (255 entries, none ours) cannot grow; entry 256
// would lie past the 1280-byte buffer.
TEST_F(Stamp, FullArrayIsLeftAsItIs) {
  Bytes array(1280, 0);
  array[0] = 255;
  for (size_t k = 1; k <= 255; k++) array[5 * k] = 0x11;
  EXPECT_EQ(StampWith("DmiArray", array), array);
  EXPECT_EQ(Var("DmiVar0100010800"), Identity(kMac)) << "the other steps go on";
  EXPECT_EQ(smbios.Writes().size(), 1u);
}

TEST_F(Stamp, OurEntryAsTheLastOf255IsFound) {
  Bytes array(1280, 0);
  array[0] = 255;
  const Bytes ours = {1, 1, 0, 8, 0};
  std::copy(ours.begin(), ours.end(), array.begin() + 1275);
  EXPECT_EQ(StampWith("DmiArray", array), array);
}

// An array larger than the buffer is not "no array": it is left
// alone instead of being replaced by a fresh one.
TEST_F(Stamp, OversizedOrUnreadableArrayIsNotReplaced) {
  Bytes big(1300, 0x33);
  big[0] = 4;
  EXPECT_EQ(StampWith("DmiArray", big), big);
  EXPECT_EQ(Var("DmiVar0100010800"), Identity(kMac));

  FailOneVariable::name = "DmiArray";
  FailOneVariable::status = EFI_DEVICE_ERROR;
  FailOneVariable::real = platform.RuntimeServices()->GetVariable;
  platform.RuntimeServices()->GetVariable = FailOneVariable::Thunk;
  platform.DeleteVar("DmiArray", kDmiGuid);
  const uint8_t uuid[16] = {};
  smbios.SetSystemInformation(1, uuid);
  EXPECT_EQ(StampSystemIdentity(), EFI_SUCCESS);
  EXPECT_FALSE(Has("DmiArray")) << "a read error is not a missing array";
  platform.RuntimeServices()->GetVariable = FailOneVariable::real;
}

TEST_F(Stamp, WriteOnceTakesTheFirstFreeEntry) {
  Bytes table(64);
  for (size_t i = 0; i < 64; i++) table[i] = (uint8_t)(0x80 + i);
  table[0] = 0x7F;
  Bytes want = table;
  want[0] = 1, want[1] = 8, want[2] = 1, want[3] = 0;
  EXPECT_EQ(StampWith("WriteOnceStatus", table), want);
}

TEST_F(Stamp, WriteOnceFreeEntryBeforeOursIsTaken) {
  Bytes table(64, 0x22);
  table[8] = 0x7F;                                             // index 2 free
  table[20] = 1, table[21] = 8, table[22] = 1, table[23] = 0;  // ours at index 5
  Bytes want = table;
  want[8] = 1, want[9] = 8, want[10] = 1, want[11] = 0;
  EXPECT_EQ(StampWith("WriteOnceStatus", table), want);
}

TEST_F(Stamp, WriteOnceOursBeforeAnyFreeEntryEndsTheWalk) {
  Bytes table(64, 0x22);
  table[4] = 1, table[5] = 8, table[6] = 1, table[7] = 0;  // ours at index 1
  table[12] = 0x7F;                                        // free at index 3
  EXPECT_EQ(StampWith("WriteOnceStatus", table), table);
  EXPECT_EQ(platform.SetVariableCalls(), 2u) << "DmiArray, DmiVar and nothing for WriteOnceStatus";
}

TEST_F(Stamp, WriteOnceWithoutFreeOrOurEntryIsWrittenBackAsRead) {
  Bytes table(64, 0x22);
  table[4] = 1, table[5] = 8, table[6] = 2, table[7] = 0;  // handle 2: not ours
  EXPECT_EQ(StampWith("WriteOnceStatus", table), table);
}

// A table that cannot be read in full is left alone rather than
// walked over bytes that were never read.
TEST_F(Stamp, WriteOnceShortLongOrUnreadableIsLeftAlone) {
  const Bytes shortTable(40, 0x7F);
  EXPECT_EQ(StampWith("WriteOnceStatus", shortTable), shortTable);

  const Bytes longTable(68, 0x7F);
  platform.SetVar("WriteOnceStatus", kDmiGuid, longTable);
  const uint8_t uuid[16] = {};
  smbios.SetSystemInformation(1, uuid);
  EXPECT_EQ(StampSystemIdentity(), EFI_SUCCESS);
  EXPECT_EQ(Var("WriteOnceStatus"), longTable);

  platform.DeleteVar("WriteOnceStatus", kDmiGuid);
  FailOneVariable::name = "WriteOnceStatus";
  FailOneVariable::status = EFI_DEVICE_ERROR;
  FailOneVariable::real = platform.RuntimeServices()->GetVariable;
  platform.RuntimeServices()->GetVariable = FailOneVariable::Thunk;
  smbios.SetSystemInformation(1, uuid);
  EXPECT_EQ(StampSystemIdentity(), EFI_SUCCESS);
  EXPECT_FALSE(Has("WriteOnceStatus"));
  platform.RuntimeServices()->GetVariable = FailOneVariable::real;
}

// Without a structure copy long enough to hold the UUID, with a
// structure whose length byte does not cover the UUID, or without the array
// buffer, the pass ends with nothing written and nothing kept.
TEST_F(Stamp, MissingStructureOrBufferEndsThePassCleanly) {
  smbios.FailRead(EFI_NOT_FOUND);
  EXPECT_EQ(StampSystemIdentity(), EFI_UNSUPPORTED);
  ExpectRefused("no type-1 structure");
  smbios.FailRead(0);

  smbios.Live().resize(23);  // one byte short of the UUID's end
  EXPECT_EQ(StampSystemIdentity(), EFI_UNSUPPORTED);
  ExpectRefused("the type-1 structure ends before its UUID");

  // A copy long enough, but a structure whose own length (a table without
  // UUID has 8) ends before the UUID's end: its strings stay as they are.
  smbios.Live().assign(40, 'S');
  for (uint8_t length : {8, 23}) {
    smbios.Live()[0] = 1, smbios.Live()[1] = length;
    EXPECT_EQ(StampSystemIdentity(), EFI_UNSUPPORTED) << int(length);
    ExpectRefused("the type-1 structure ends before its UUID");
  }

  smbios.Live().resize(24);  // just long enough
  smbios.Live()[1] = 24;
  platform.FailAllocation(2);  // the copy is the first allocation, the array buffer the second
  EXPECT_EQ(StampSystemIdentity(), EFI_UNSUPPORTED);
  ExpectRefused("no pool for the DmiArray buffer");

  EXPECT_EQ(StampSystemIdentity(), EFI_SUCCESS);
  EXPECT_EQ(smbios.Writes().size(), 1u);
  EXPECT_EQ(smbios.Writes()[0].size, 24);
}

TEST_F(Stamp, FailedVariableWritesDoNotStopTheStamp) {
  platform.FailSetVariable(EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(StampSystemIdentity(), EFI_SUCCESS);
  EXPECT_EQ(smbios.Writes().size(), 1u);
  EXPECT_EQ(Uuid(), Identity(kMac));
}

// A later boot over the first boot's variables: with the stamp still in the
// live structure nothing happens; with a fresh structure and a new MAC only
// DmiVar0100010800 and the structure change.
TEST_F(Stamp, SecondBootChangesOnlyTheStoredValueAndTheStructure) {
  EXPECT_EQ(StampSystemIdentity(), EFI_SUCCESS);
  const Bytes array = Var("DmiArray"), writeOnce = Var("WriteOnceStatus");
  const uint64_t writes = platform.SetVariableCalls();

  EXPECT_EQ(StampSystemIdentity(), EFI_UNSUPPORTED) << "the live UUID already ends with the MAC";
  EXPECT_EQ(platform.SetVariableCalls(), writes);

  const Bytes newMac = {0xF4, 0xB5, 0x20, 0x70, 0x00, 0x01};
  SetMac(newMac);
  const uint8_t uuid[16] = {0xAB};
  smbios.SetSystemInformation(1, uuid);
  EXPECT_EQ(StampSystemIdentity(), EFI_SUCCESS);
  EXPECT_EQ(Var("DmiArray"), array);
  EXPECT_EQ(Var("WriteOnceStatus"), writeOnce);
  EXPECT_EQ(Var("DmiVar0100010800"), Identity(newMac));
  EXPECT_EQ(Uuid(), Identity(newMac));
  EXPECT_EQ(platform.SetVariableCalls(), writes + 1) << "only DmiVar0100010800 is written";
}

// ---- The bounded text routines ----

TEST(IdentityText, BoundedPrintTruncatesAndTerminates) {
  CHAR16 buf[10];
  EXPECT_EQ(Utf16PrintBounded(buf, sizeof(buf), u"%s", u"QR48T-K2V"), 9u);
  EXPECT_EQ(std::u16string(buf), u"QR48T-K2V");
  EXPECT_EQ(Utf16PrintBounded(buf, sizeof(buf), u"<%s>", u"QR48T-K2V"), 9u);
  EXPECT_EQ(std::u16string(buf), u"<QR48T-K2");
  EXPECT_EQ(Utf16PrintBounded(buf, 2 * sizeof(CHAR16), u"100%%"), 1u);
  EXPECT_EQ(std::u16string(buf), u"1");
  EXPECT_EQ(Utf16PrintBounded(buf, sizeof(CHAR16), u"x"), 0u);
  EXPECT_EQ(buf[0], 0);
}

TEST(IdentityText, AsciiConversionRefusesWithoutCopying) {
  char dst[20];
  memset(dst, '#', sizeof(dst));
  const char16_t nineteen[] = u"0123456789ABCDEFGHI", twenty[] = u"0123456789ABCDEFGHIJ";
  EXPECT_EQ(Utf16ToAsciiBounded(twenty, dst, 20), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(dst[0], '#');
  EXPECT_EQ(Utf16ToAsciiBounded(nullptr, dst, 20), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Utf16ToAsciiBounded(nineteen, nullptr, 20), EFI_INVALID_PARAMETER);
  EXPECT_EQ(dst[0], '#');
  EXPECT_EQ(Utf16ToAsciiBounded(nineteen, dst, 20), EFI_SUCCESS);
  EXPECT_EQ(std::string(dst), "0123456789ABCDEFGHI");

  // Destination inside the source: refused.
  char16_t both[16] = u"abc";
  EXPECT_EQ(Utf16ToAsciiBounded(both, reinterpret_cast<char *>(both) + 2, 20), EFI_ACCESS_DENIED);
  EXPECT_EQ(both[1], u'b');
  // Non-ASCII units keep their low byte.
  EXPECT_EQ(Utf16ToAsciiBounded(u"\u0141A", dst, 20), EFI_SUCCESS);
  EXPECT_EQ((uint8_t)dst[0], 0x41);
}

}  // namespace
