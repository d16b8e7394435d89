// PcdBridgeDxe on a platform whose PCD database numbers its own PCDs 1..70 and
// keeps the package's PCDs as DynamicEx ones: the drivers' token numbers are
// answered from those, every other call reaches the platform as before, and
// a platform whose own numbers meet ours is left alone.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "efi/debug_print.h"
#include "test/fake/fake.h"
#include "test/fake/pcd.h"

extern "C" EFI_STATUS EFIAPI PcdBridgeEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

namespace {

const EFI_GUID kTokenSpace = {0x40EE853C, 0xD440, 0x44B5, {0xBC, 0xC4, 0x60, 0xF6, 0xE9, 0x49, 0x3E, 0x3A}};
const EFI_GUID kDebugPrintGuid = DEBUG_PRINT_PROTOCOL_GUID;

// The drivers' numbers and the getter each is read with (1 = Boolean, else bits).
struct OurToken {
  UINTN token;
  int width;
  uint64_t value;
};
const OurToken kOurs[] = {{846, 1, 1},     {1179, 1, 1},           {1103, 8, 0x11}, {1178, 8, 0x22},        {1184, 8, 0x33},
                          {1182, 8, 0x44}, {1183, 32, 0x11223344}, {1180, 1, 0},    {1112, 32, 0x55667788}, {1111, 32, 0x99AABBCC},
                          {1181, 8, 0x55}, {1293, 64, 0}};

// Records what the bridge reports: the level, the format and its first (%a) argument.
struct Report {
  UINTN level;
  std::string format, reason;
};
std::vector<Report> gReports;
EFI_STATUS EFIAPI RecordPrint(UINTN Level, const CHAR8 *Format, EFI_VA_LIST Args) {
  gReports.push_back({Level, Format, EFI_VA_ARG(Args, const CHAR8 *)});
  return EFI_SUCCESS;
}

uint64_t Read(PCD_PROTOCOL *p, UINTN token, int width) {
  switch (width) {
    case 1:
      return p->GetBool(token);
    case 8:
      return p->Get8(token);
    case 16:
      return p->Get16(token);
    case 32:
      return p->Get32(token);
    default:
      return p->Get64(token);
  }
}

// A platform: its own dynamic PCDs 1..70 (each value distinct in every width),
// our PCDs in their token space unless told otherwise, and a debug print
// protocol that records the bridge's reports. Strict: a read past the
// platform's tables fails the test, as a DEBUG build asserts.
struct Board {
  explicit Board(bool ours = true) {
    gReports.clear();
    EFI_HANDLE h = nullptr;
    EXPECT_EQ(platform.Install(&h, kDebugPrintGuid, &debug), EFI_SUCCESS);
    for (UINTN t = 1; t <= 70; t++) pcd.Set(t, 0x0102030405060708ULL * t);
    if (ours)
      for (const OurToken &o : kOurs) pcd.SetEx(kTokenSpace, o.token, o.value);
    pcd.Strict(true);
  }
  EFI_STATUS Run() { return PcdBridgeEntry(platform.NewImageHandle(), platform.SystemTable()); }
  PCD_PROTOCOL *Located() { return static_cast<PCD_PROTOCOL *>(platform.Find(fake::FakePcd::PcdGuid())); }

  fake::Platform platform;
  fake::FakePcd pcd{platform};
  DEBUG_PRINT_PROTOCOL debug{RecordPrint};
};

TEST(PcdBridge, AnswersTheDriversNumbersFromTheDynamicExPcds) {
  Board b;
  auto &pcd = b.pcd;
  ASSERT_EQ(b.Run(), EFI_SUCCESS);
  PCD_PROTOCOL *bridge = b.Located();
  ASSERT_NE(bridge, pcd.Pcd()) << "LocateProtocol finds the bridge";
  for (const OurToken &o : kOurs) EXPECT_EQ(Read(bridge, o.token, o.width), o.value) << o.token;
  // SetupTokenSmm publishes its buffer through 1293: it lands in the DynamicEx PCD.
  EXPECT_EQ(bridge->Set64(1293, 0x7FF00000), EFI_SUCCESS);
  EXPECT_EQ(pcd.GetEx(kTokenSpace, 1293), 0x7FF00000u);
  EXPECT_EQ(bridge->Get64(1293), 0x7FF00000u);
  EXPECT_EQ(bridge->Set8(1103, 0x5A), EFI_SUCCESS);
  EXPECT_EQ(pcd.GetEx(kTokenSpace, 1103), 0x5Au);
  EXPECT_TRUE(gReports.empty());
}

TEST(PcdBridge, ThePlatformsOwnPcdsReadTheSameWithAndWithoutTheBridge) {
  Board b;
  auto &pcd = b.pcd;
  std::vector<uint64_t> before;
  for (UINTN t = 1; t <= 70; t++)
    for (int w : {1, 8, 16, 32, 64}) before.push_back(Read(pcd.Pcd(), t, w));
  ASSERT_EQ(b.Run(), EFI_SUCCESS);
  PCD_PROTOCOL *bridge = b.Located();
  size_t i = 0;
  for (UINTN t = 1; t <= 70; t++)
    for (int w : {1, 8, 16, 32, 64}) EXPECT_EQ(Read(bridge, t, w), before[i++]) << "token " << t << " width " << w;
  // A write of the platform's own number stays the platform's.
  EXPECT_EQ(bridge->Set32(5, 0xCAFE), EFI_SUCCESS);
  EXPECT_EQ(pcd.Get(5), 0xCAFEu);
  EXPECT_EQ(bridge->GetSize(5), pcd.Pcd()->GetSize(5));

  // Every slot but the thirteen token-number calls is the platform's own
  // function: the ...Ex calls, callbacks and token walks are not touched.
  const std::set<size_t> answered = {1, 2, 3, 4, 5, 6, 7, 15, 16, 17, 18, 19, 20};
  VOID **mine = reinterpret_cast<VOID **>(bridge), **theirs = reinterpret_cast<VOID **>(pcd.Pcd());
  for (size_t slot = 0; slot < sizeof(PCD_PROTOCOL) / sizeof(VOID *); slot++)
    EXPECT_EQ(mine[slot] == theirs[slot], answered.count(slot) == 0) << "slot " << slot;
}

struct Refusal {
  const char *name;
  std::vector<UINTN> extra_local;  // local token numbers besides 1..70
  EFI_STATUS walk_status;
  bool no_walk, no_ours;
  const char *reason;
};

TEST(PcdBridge, RefusesAndLeavesEverythingAsItWas) {
  std::vector<UINTN> dense;
  for (UINTN t = 71; t <= 1300; t++) dense.push_back(t);
  const Refusal cases[] = {
      {"a local 846", {846}, 0, false, false, "a local token number of the platform is one of ours"},
      {"a local 1293 only", {1293}, 0, false, false, "a local token number of the platform is one of ours"},
      {"1300 local tokens", dense, 0, false, false, "a local token number of the platform is one of ours"},
      {"no token walk", {}, EFI_UNSUPPORTED, false, false, "the platform's PCD protocol cannot list its tokens"},
      {"no GetNextToken", {}, 0, true, false, "the platform's PCD protocol cannot list its tokens"},
      {"none of ours", {}, 0, false, true, "the platform holds no PCD of gBoardDriversTokenSpaceGuid"},
  };
  for (const Refusal &c : cases) {
    SCOPED_TRACE(c.name);
    Board b(!c.no_ours);
    fake::FakePcd &db = b.pcd;
    for (UINTN t : c.extra_local) db.Set(t, t);
    db.FailGetNextToken(c.walk_status);
    if (c.no_walk) db.Pcd()->GetNextToken = nullptr;
    db.ClearLog();
    EXPECT_EQ(b.Run(), EFI_UNSUPPORTED);
    EXPECT_EQ(b.Located(), db.Pcd()) << "the platform's protocol stays in place";
    for (const fake::PcdCall &call : db.Log()) EXPECT_EQ(call.fn, "GetNextToken") << "only the walk touches the database";
    ASSERT_EQ(gReports.size(), 1u);
    EXPECT_EQ(gReports[0].level, DEBUG_LEVEL_ERROR);
    EXPECT_EQ(gReports[0].reason, c.reason);
    EXPECT_EQ(gReports[0].format.rfind("[PcdBridgeDxe] not bridged: %a", 0), 0u);
    EXPECT_EQ(b.platform.LivePoolCount(), 0u);
  }
}

TEST(PcdBridge, AWalkEndingWithTokenZeroIsComplete) {
  Board b;
  b.pcd.EndWalkWithZero(true);
  ASSERT_EQ(b.Run(), EFI_SUCCESS);
  EXPECT_EQ(b.Located()->Get32(1183), 0x11223344u);
}

TEST(PcdBridge, OnlyTheNumbersThePlatformHoldsAreBridged) {
  Board b(false);
  fake::FakePcd &db = b.pcd;
  db.Strict(false);                // the platform answers 1103 from past its tables here
  db.SetEx(kTokenSpace, 1293, 0);  // a board with SetupTokenSmm alone
  ASSERT_EQ(b.Run(), EFI_SUCCESS);
  PCD_PROTOCOL *bridge = b.Located();
  db.ClearLog();
  EXPECT_EQ(bridge->Set64(1293, 0x1234), EFI_SUCCESS);
  EXPECT_EQ(db.GetEx(kTokenSpace, 1293), 0x1234u);
  bridge->Get8(1103);  // not held: the platform answers as it did before the bridge
  ASSERT_EQ(db.Log().size(), 2u);
  EXPECT_EQ(db.Log()[0].fn, "Set64Ex");
  EXPECT_EQ(db.Log()[1].fn, "Get8");
}

}  // namespace
