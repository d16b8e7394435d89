// SPDX-License-Identifier: BSD-2-Clause-Patent
// Shared set-up of the UI driver's entry and protocol tests: a fake platform
// with the UI's library state reset around every test.
#pragma once
#include <gtest/gtest.h>

#include "test/fake/fake.h"
#include "ui/status_report.h"
#include "ui/entry.h"
#include "ui/run.h"

namespace entrytest {

inline const EFI_GUID UiGuid = UI_SCREEN_PROTOCOL_GUID;

class EntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DriverLibForgetInterfaces();
    RunRecordForTest()->Active = 0;
    Image = Platform.NewImageHandle();
  }
  void TearDown() override {
    RunRecordForTest()->Active = 0;
    DriverLibForgetInterfaces();
  }
  UI_SCREEN_PROTOCOL *Installed(EFI_HANDLE Handle) {
    VOID *Interface = nullptr;
    if (EFI_ERROR(Platform.BootServices()->HandleProtocol(Handle, &UiGuid, &Interface))) return nullptr;
    return static_cast<UI_SCREEN_PROTOCOL *>(Interface);
  }
  fake::Platform Platform;
  EFI_HANDLE Image = nullptr;
};

}  // namespace entrytest
