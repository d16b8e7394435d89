// SPDX-License-Identifier: BSD-2-Clause-Patent
// The library-only images (built with LIBONLY_ENTRY naming the image's entry):
// loading one runs the start-up and nothing else.
#include <gtest/gtest.h>

#include <vector>

#include "test/drvlib/lib_support.h"
#include "test/fake/pcd.h"
#include "test/fake/smm.h"

extern "C" EFI_STATUS EFIAPI LIBONLY_ENTRY(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

namespace {

class LibOnlyImage : public ::testing::Test {
 protected:
  void SetUp() override { libtest::ResetDrvLib(); }
  void TearDown() override { EXPECT_EQ(platform.LivePoolCount(), 0u); }
  EFI_STATUS Load() { return LIBONLY_ENTRY(platform.NewImageHandle(), platform.SystemTable()); }
  bool BufferZero() const {
    const uint8_t *b = reinterpret_cast<const uint8_t *>(&CfgPcdBuffer);
    for (size_t i = 0; i < sizeof(CfgPcdBuffer); i++)
      if (b[i]) return false;
    return true;
  }

  fake::Platform platform;
  fake::FakePcd pcd{platform};
  libtest::DebugPrintDouble debug{platform};
};

TEST_F(LibOnlyImage, BothPcdProtocolsGiveAFilledBufferAndNoMessage) {
  pcd.Set(1181, 0x77);
  int hob = 0;
  platform.AddConfigTable(libtest::HobListGuid(), &hob);
  EXPECT_EQ(Load(), EFI_SUCCESS);
  EXPECT_TRUE(debug.Messages().empty());
  const UINT32 signature = CfgPcdBuffer.Signature;  // packed: read by value
  EXPECT_EQ(signature, 0x00800301u);
  EXPECT_EQ(CfgPcdBuffer.Pcd1181, 0x77);
  EXPECT_EQ(CfgPcdBuffer.EndMark, 2);
  EXPECT_EQ(HobListPointer, &hob);
}

TEST_F(LibOnlyImage, NoPcdProtocolStillSucceedsWithOneMessage) {
  pcd.UninstallPcd();
  pcd.UninstallPiPcd();
  EXPECT_EQ(Load(), EFI_SUCCESS);
  ASSERT_EQ(debug.Messages().size(), 1u);
  EXPECT_EQ(debug.Messages()[0].text, "[CfgPcdBufLibDxeConstructor] LocateProtocol: gPcdProtocolGuid, Status: Not Found\n");
  EXPECT_TRUE(BufferZero());
}

TEST_F(LibOnlyImage, NoHobListSucceedsWithNullPointer) {
  EXPECT_EQ(Load(), EFI_SUCCESS);
  EXPECT_EQ(HobListPointer, nullptr);
}

// Only the full build carries the scratch, MMIO-base and SMM steps: these
// images allocate nothing, create no event and never ask SMM, even when SMM
// would answer.
TEST_F(LibOnlyImage, RunsNoStepOfTheFullBuild) {
  fake::Smm smm(platform);
  const EFI_GUID marker = SMM_LIB_READY_PROTOCOL_GUID;
  static int iface;
  EFI_HANDLE h = nullptr;
  smm.Install(&h, marker, &iface);
  const uint64_t allocations = platform.AllocationCount();
  EXPECT_EQ(Load(), EFI_SUCCESS);
  EXPECT_EQ(platform.AllocationCount(), allocations);
  EXPECT_EQ(platform.LiveEventCount(), 0u);
  EXPECT_EQ(smm.GetSmstLocationCalls(), 0u);
  EXPECT_EQ(SmmLibReady, 0);
  EXPECT_EQ(PlatformMmioBase, 0u);
  EXPECT_EQ(gRT, platform.RuntimeServices()) << "the image's one table set includes the runtime services";
}

TEST_F(LibOnlyImage, StartsTwiceWithoutHarm) {
  pcd.Set(1183, 0x01020304);
  EXPECT_EQ(Load(), EFI_SUCCESS);
  pcd.Set(1183, 0x0A0B0C0D);
  EXPECT_EQ(Load(), EFI_SUCCESS);
  const UINT32 value = CfgPcdBuffer.Pcd1183;
  EXPECT_EQ(value, 0x0A0B0C0Du);
}

}  // namespace
