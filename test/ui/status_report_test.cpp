// SPDX-License-Identifier: BSD-2-Clause-Patent
// The library start-up, and debug and assertion reports reaching a status-code
// protocol with the exact record layout.
#include <gtest/gtest.h>

#include <csetjmp>
#include <cstring>
#include <vector>

#include "test/fake/fake.h"
#include "ui/status_report.h"

namespace {

struct Report {
  UINT32 Type, Value, Instance;
  EFI_GUID CallerId;
  std::vector<UINT8> Data;  // the whole 1600-byte record
};
std::vector<Report> Reports;

EFI_STATUS EFIAPI CaptureReport(UINT32 Type, UINT32 Value, UINT32 Instance, const EFI_GUID *CallerId, VOID *Data) {
  const UINT8 *Bytes = static_cast<const UINT8 *>(Data);
  Reports.push_back({Type, Value, Instance, *CallerId, std::vector<UINT8>(Bytes, Bytes + STATUS_CODE_RECORD_SIZE)});
  return EFI_SUCCESS;
}
STATUS_CODE_PROTOCOL StatusCodeService = {CaptureReport};

UINTN MaskValue;
EFI_STATUS EFIAPI GetMask(DEBUG_MASK_PROTOCOL *, UINTN *Mask) {
  *Mask = MaskValue;
  return EFI_SUCCESS;
}
DEBUG_MASK_PROTOCOL MaskService = {1, GetMask, nullptr};

jmp_buf Stopped;
int StopCount;
VOID StopAssert(VOID) {
  StopCount++;
  longjmp(Stopped, 1);
}

const EFI_GUID StatusCodeGuid = STATUS_CODE_PROTOCOL_GUID;
const EFI_GUID DebugMaskGuid = DEBUG_MASK_PROTOCOL_GUID;
const EFI_GUID CallerGuid = STATUS_CODE_CALLER_ID_GUID;
const EFI_GUID DebugTypeGuid = STATUS_CODE_DATA_TYPE_DEBUG_GUID;
const EFI_GUID AssertTypeGuid = STATUS_CODE_DATA_TYPE_ASSERT_GUID;

UINT16 U16At(const std::vector<UINT8> &D, size_t Off) { return (UINT16)(D[Off] | D[Off + 1] << 8); }
UINT32 U32At(const std::vector<UINT8> &D, size_t Off) {
  UINT32 V;
  memcpy(&V, &D[Off], 4);
  return V;
}
UINT64 U64At(const std::vector<UINT8> &D, size_t Off) {
  UINT64 V;
  memcpy(&V, &D[Off], 8);
  return V;
}
bool GuidAt(const std::vector<UINT8> &D, size_t Off, const EFI_GUID &G) { return memcmp(&D[Off], &G, 16) == 0; }

// What every report from the library carries: its code, our caller id, and a
// data header of 20 bytes with the data's size and type.
struct ReportHead {
  UINT32 Type, Value, Instance;
  size_t DataSize;
  const EFI_GUID &DataType;
};
void ExpectReportHead(const Report &R, const ReportHead &Want) {
  EXPECT_EQ(R.Type, Want.Type);
  EXPECT_EQ(R.Value, Want.Value);
  EXPECT_EQ(R.Instance, Want.Instance);
  EXPECT_TRUE(GuidEqual(R.CallerId, CallerGuid));
  EXPECT_EQ(U16At(R.Data, 0), 20);
  EXPECT_EQ(U16At(R.Data, 2), Want.DataSize);
  EXPECT_TRUE(GuidAt(R.Data, 4, Want.DataType));
}

class DriverLibTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Reports.clear();
    StopCount = 0;
    MaskValue = 0;
    gDriverLibAssertStop = StopAssert;
    DriverLibForgetInterfaces();
    Image = Platform.NewImageHandle();
  }
  void TearDown() override {
    gDriverLibAssertStop = nullptr;
    DriverLibForgetInterfaces();
    EXPECT_EQ(Platform.LivePoolCount(), 0u);
  }
  void InstallStatusCode() { ASSERT_EQ(Platform.Install(&StatusHandle, StatusCodeGuid, &StatusCodeService), EFI_SUCCESS); }
  void Start() { ASSERT_EQ(EfiInitializeDriverLib(Image, Platform.SystemTable()), EFI_SUCCESS); }

  fake::Platform Platform;
  EFI_HANDLE Image = nullptr;
  EFI_HANDLE StatusHandle = nullptr;
};

TEST_F(DriverLibTest, StartUpKeepsTheTablesAndRunsAgainAtEveryRun) {
  InstallStatusCode();
  Start();
  EXPECT_EQ(gImageHandle, Image);
  EXPECT_EQ(gST, Platform.SystemTable());
  EXPECT_EQ(gBS, Platform.BootServices());
  EXPECT_EQ(gRT, Platform.RuntimeServices());
  EXPECT_TRUE(Reports.empty());  // the start-up message is below the default mask

  // With a debug mask that lets level 0x40 through, the start-up reports itself.
  MaskValue = 0x40;
  ASSERT_EQ(Platform.Install(&Image, DebugMaskGuid, &MaskService), EFI_SUCCESS);
  Start();
  ASSERT_EQ(Reports.size(), 1u);
  EXPECT_EQ(std::string((const char *)&Reports[0].Data[120]), "EfiInitializeDriverLib: Started\n");
  EXPECT_EQ(Reports[0].Instance, 0x40u);

  // The mask is looked up again: without it, the default applies once more.
  ASSERT_EQ(Platform.Uninstall(Image, DebugMaskGuid, &MaskService), EFI_SUCCESS);
  Start();
  EXPECT_EQ(Reports.size(), 1u);
}

TEST_F(DriverLibTest, DebugMessagesPassTheMask) {
  InstallStatusCode();
  Start();
  EfiDebugPrint(0x80000000, "error\n");
  EfiDebugPrint(0x4, "load\n");
  EfiDebugPrint(0x40, "info\n");
  EfiDebugPrint(0x100000000ULL | 0x4, "wide level\n");
  ASSERT_EQ(Reports.size(), 3u);
  EXPECT_EQ(Reports[0].Instance, 0x80000000u);
  EXPECT_EQ(Reports[1].Instance, 0x4u);
  EXPECT_EQ(Reports[2].Instance, 0x4u);  // the low 32 bits of the level

  MaskValue = 0x40;
  ASSERT_EQ(Platform.Install(&Image, DebugMaskGuid, &MaskService), EFI_SUCCESS);
  Start();
  Reports.clear();
  EfiDebugPrint(0x80000000, "error\n");
  EfiDebugPrint(0x40, "info\n");
  ASSERT_EQ(Reports.size(), 1u);
  EXPECT_EQ(std::string((const char *)&Reports[0].Data[120]), "info\n");
  ASSERT_EQ(Platform.Uninstall(Image, DebugMaskGuid, &MaskService), EFI_SUCCESS);
}

TEST_F(DriverLibTest, DebugRecordLayout) {
  InstallStatusCode();
  Start();
  EfiDebugPrint(0x80000000, "[%a] value %d, status %r, %*d%%\n", "UI", (UINT64)-5, EFI_NOT_FOUND, (UINT64)4, (UINT64)77);
  ASSERT_EQ(Reports.size(), 1u);
  ExpectReportHead(Reports[0], {3, 0x03050000, 0x80000000, 1580, DebugTypeGuid});
  const auto &D = Reports[0].Data;
  EXPECT_EQ(U32At(D, 20), 0x80000000u);
  EXPECT_EQ(strcmp((const char *)U64At(D, 24), "UI"), 0);
  EXPECT_EQ(U64At(D, 32), (UINT64)-5);
  EXPECT_EQ(U64At(D, 40), EFI_NOT_FOUND);
  EXPECT_EQ(U64At(D, 48), 4u);
  EXPECT_EQ(U64At(D, 56), 77u);
  for (size_t Slot = 5; Slot < 12; Slot++) EXPECT_EQ(U64At(D, 24 + 8 * Slot), 0u) << "unused slot " << Slot;
  EXPECT_EQ(std::string((const char *)&D[120]), "[%a] value %d, status %r, %*d%%\n");
}

TEST_F(DriverLibTest, DebugRecordCarriesTwelveSlotsAndSeventyNineFormatCharacters) {
  InstallStatusCode();
  Start();
  EfiDebugPrint(0x80000000, "%d%d%d%d%d%d%d%d%d%d%d%d%d", 1ULL, 2ULL, 3ULL, 4ULL, 5ULL, 6ULL, 7ULL, 8ULL, 9ULL, 10ULL, 11ULL, 12ULL, 13ULL);
  ASSERT_EQ(Reports.size(), 1u);
  for (size_t Slot = 0; Slot < 12; Slot++) EXPECT_EQ(U64At(Reports[0].Data, 24 + 8 * Slot), Slot + 1);

  std::string Long;
  for (int i = 0; i < 100; i++) Long.push_back((char)('a' + i % 26));
  EfiDebugPrint(0x80000000, Long.c_str());
  ASSERT_EQ(Reports.size(), 2u);
  EXPECT_EQ(std::string((const char *)&Reports[1].Data[120]), Long.substr(0, 79));
  EXPECT_EQ(Reports[1].Data[199], 0);
}

TEST_F(DriverLibTest, StatusCodeServiceIsFoundOnFirstUseAndKept) {
  Start();
  // Nothing to report to: the message is dropped.
  EfiDebugPrint(0x80000000, "lost\n");
  EXPECT_EQ(EfiLibReportStatusCode(3, 0x03050000, 0, &CallerGuid, nullptr), EFI_UNSUPPORTED);
  // A lookup that failed is tried again at the next report.
  InstallStatusCode();
  EfiDebugPrint(0x80000000, "found\n");
  ASSERT_EQ(Reports.size(), 1u);
  // Once found it stays in use, also across a second start-up.
  ASSERT_EQ(Platform.Uninstall(StatusHandle, StatusCodeGuid, &StatusCodeService), EFI_SUCCESS);
  Start();
  EfiDebugPrint(0x80000000, "kept\n");
  ASSERT_EQ(Reports.size(), 2u);
  EXPECT_EQ(std::string((const char *)&Reports[1].Data[120]), "kept\n");

  // Without boot services nothing can be located.
  DriverLibForgetInterfaces();
  EFI_BOOT_SERVICES *Saved = gBS;
  gBS = nullptr;
  EXPECT_EQ(EfiLibReportStatusCode(3, 0x03050000, 0, &CallerGuid, nullptr), EFI_UNSUPPORTED);
  gBS = Saved;
}

TEST_F(DriverLibTest, AssertionRecordLayoutAndStop) {
  InstallStatusCode();
  Start();
  if (setjmp(Stopped) == 0) {
    EfiDebugAssert("screen.c", 321, "Window != NULL");
    FAIL() << "an assertion must not return";
  }
  EXPECT_EQ(StopCount, 1);
  ASSERT_EQ(Reports.size(), 1u);
  ExpectReportHead(Reports[0], {0x90000002, 0x03050007, 0, strlen("screen.c") + strlen("Window != NULL") + 40, AssertTypeGuid});
  const auto &D = Reports[0].Data;
  EXPECT_EQ(U32At(D, 40), 321u);
  EXPECT_EQ(std::string((const char *)&D[60]), "screen.c");
  EXPECT_EQ(std::string((const char *)&D[60 + 9]), "Window != NULL");
}

TEST_F(DriverLibTest, AssertionTextsThatDoNotFitAreNotSentButStillStop) {
  InstallStatusCode();
  Start();
  // Both texts and their two 0 bytes take the 1540 bytes after offset 60 exactly.
  std::string File(1000, 'f'), Text(538, 't');
  if (setjmp(Stopped) == 0) EfiDebugAssert(File.c_str(), 1, Text.c_str());
  ASSERT_EQ(Reports.size(), 1u);
  EXPECT_EQ(U16At(Reports[0].Data, 2), 1000 + 538 + 40);
  EXPECT_EQ(Reports[0].Data[1599], 0);
  EXPECT_EQ(std::string((const char *)&Reports[0].Data[60 + 1001]), Text);
  // One byte more would not fit with its terminator.
  Text.push_back('t');
  if (setjmp(Stopped) == 0) EfiDebugAssert(File.c_str(), 2, Text.c_str());
  EXPECT_EQ(Reports.size(), 1u);
  EXPECT_EQ(StopCount, 2);
}

TEST_F(DriverLibTest, AssertMacroReportsFileLineAndExpression) {
  InstallStatusCode();
  Start();
  const int Line = __LINE__ + 2;
  if (setjmp(Stopped) == 0) {
    ASSERT(Reports.size() == 99);
  }
  ASSERT_EQ(Reports.size(), 1u);
  EXPECT_EQ(U32At(Reports[0].Data, 40), (UINT32)Line);
  std::string File((const char *)&Reports[0].Data[60]);
  EXPECT_NE(File.find("status_report_test.cpp"), std::string::npos);
  EXPECT_EQ(std::string((const char *)&Reports[0].Data[60 + File.size() + 1]), "Reports.size() == 99");
}

TEST_F(DriverLibTest, MissingTablesAreAssertedWithTheLibraryNameAndLines) {
  InstallStatusCode();
  Start();  // boot services known, so the status-code service can be found
  EfiDebugPrint(0x80000000, "prime\n");
  Reports.clear();

  struct {
    bool NullTable, NullBoot, NullRuntime;
    UINT32 Line;
    const char *Expression;
  } Cases[] = {
      {true, false, false, 55, "gST != ((void *) 0)"},
      {false, true, false, 60, "gBS != ((void *) 0)"},
      {false, false, true, 61, "gRT != ((void *) 0)"},
  };
  for (auto &C : Cases) {
    SCOPED_TRACE(C.Line);
    EFI_SYSTEM_TABLE Copy = *Platform.SystemTable();
    if (C.NullBoot) Copy.BootServices = nullptr;
    if (C.NullRuntime) Copy.RuntimeServices = nullptr;
    // Reports still need boot services; keep the real ones for the report itself.
    EFI_BOOT_SERVICES *Real = Platform.BootServices();
    Reports.clear();
    if (setjmp(Stopped) == 0) EfiInitializeDriverLib(Image, C.NullTable ? nullptr : &Copy);
    if (C.NullBoot) {
      // gBS is null at the report, so the assertion is dropped but still stops.
      EXPECT_TRUE(Reports.empty());
    } else {
      ASSERT_EQ(Reports.size(), 1u);
      EXPECT_EQ(U32At(Reports[0].Data, 40), C.Line);
      EXPECT_EQ(std::string((const char *)&Reports[0].Data[60]), "EfiDriverLib");
      EXPECT_EQ(std::string((const char *)&Reports[0].Data[60 + 13]), C.Expression);
    }
    gBS = Real;
  }
  EXPECT_EQ(StopCount, 3);
  Start();
}

}  // namespace
