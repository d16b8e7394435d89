// SPDX-License-Identifier: BSD-2-Clause-Patent
// The self-test driver's source under the fake platform: the same code that
// the image check and the firmware test bed see.
#include <gtest/gtest.h>

#include "fake.h"
#include "selftest.h"

namespace {
const EFI_GUID kSelfTest = SELFTEST_PROTOCOL_GUID;

TEST(SelfTest, EntryInstallsAndUnloadRemovesTheProtocol) {
  fake::Platform p;
  EFI_HANDLE image = p.NewImageHandle();
  ASSERT_EQ(SelfTestEntry(image, p.SystemTable()), EFI_SUCCESS);
  auto *proto = static_cast<SELFTEST_PROTOCOL *>(p.Find(kSelfTest));
  ASSERT_NE(proto, nullptr);
  EXPECT_EQ(proto->Sum(40, 2), 42u);
  EXPECT_EQ(proto->CallCount(), 1u);
  EXPECT_EQ(proto->CallCount(), 2u);
  EXPECT_NE(proto->EntryChecksum, 0u);
  ASSERT_EQ(p.LoadedImage(image)->Unload, &SelfTestUnload);
  EXPECT_EQ(p.LoadedImage(image)->Unload(image), EFI_SUCCESS);
  EXPECT_EQ(p.Find(kSelfTest), nullptr);
  EXPECT_EQ(p.LivePoolCount(), 0u);
}

TEST(SelfTest, FailedAllocationInstallsNothing) {
  fake::Platform p;
  EFI_HANDLE image = p.NewImageHandle();
  p.FailAllocation(1);
  EXPECT_EQ(SelfTestEntry(image, p.SystemTable()), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(p.Find(kSelfTest), nullptr);
}
}  // namespace
