// SPDX-License-Identifier: BSD-2-Clause-Patent
// Loading and unloading the UI driver, and the protocol functions a caller
// uses during a run: window and attribute choice, refusal outside a run.
#include <gtest/gtest.h>

#include "entry_fixture.h"
#include "test/fake/fake.h"
#include "ui/status_report.h"
#include "ui/entry.h"
#include "ui/layout.h"
#include "ui/run.h"

using entrytest::EntryTest;
using entrytest::UiGuid;

namespace {

TEST_F(EntryTest, InstallsTheInterfaceOnItsImageHandleAndBecomesUnloadable) {
  ASSERT_EQ(UiScreenEntryPoint(Image, Platform.SystemTable()), EFI_SUCCESS);
  UI_SCREEN_PROTOCOL *Ui = Installed(Image);
  ASSERT_NE(Ui, nullptr);
  EXPECT_EQ(Platform.Find(UiGuid), Ui);
  EXPECT_EQ(Ui->Revision, 403u);
  EXPECT_EQ(Ui->ImageHandle, Image);
  EXPECT_EQ(Ui->SystemTable, Platform.SystemTable());
  EXPECT_EQ(Ui->Run, &::Run);
  EXPECT_EQ(Ui->Print, &Print);
  EXPECT_EQ(Ui->Clear, &Clear);
  EXPECT_EQ(Ui->ClearLine, &ClearLine);
  EXPECT_EQ(Ui->NoOperation, &NoOperation);
  EXPECT_EQ(Ui->DrawProgressFrame, &DrawProgressFrame);
  EXPECT_EQ(Ui->SetProgress, &SetProgress);
  ASSERT_TRUE(Platform.IsLive(Ui));
  EXPECT_EQ(Platform.Allocations().at(Ui).size, 80u);
  EXPECT_EQ(Platform.TypeOf(Ui), EfiBootServicesData);
  EXPECT_EQ(Platform.LoadedImage(Image)->Unload, &DriverUnload);

  EXPECT_EQ(Platform.LoadedImage(Image)->Unload(Image), EFI_SUCCESS);
  EXPECT_EQ(Platform.Find(UiGuid), nullptr);
  EXPECT_EQ(Platform.LivePoolCount(), 0u);
}

TEST_F(EntryTest, SecondLoadIsRefusedAndLeavesTheFirstUntouched) {
  ASSERT_EQ(UiScreenEntryPoint(Image, Platform.SystemTable()), EFI_SUCCESS);
  UI_SCREEN_PROTOCOL *First = Installed(Image);
  EFI_HANDLE Second = Platform.NewImageHandle();
  EXPECT_EQ(UiScreenEntryPoint(Second, Platform.SystemTable()), EFI_ACCESS_DENIED);
  EXPECT_EQ(Installed(Image), First);
  EXPECT_EQ(Installed(Second), nullptr);
  EXPECT_EQ(Platform.LoadedImage(Second)->Unload, nullptr);
  EXPECT_EQ(Platform.LivePoolCount(), 1u);
  EXPECT_EQ(DriverUnload(Image), EFI_SUCCESS);
  EXPECT_EQ(Platform.LivePoolCount(), 0u);
}

TEST_F(EntryTest, LoadFailuresLeaveNothingInstalledOrAllocated) {
  // Pool exhausted.
  Platform.FailAllocation(1);
  EXPECT_EQ(UiScreenEntryPoint(Image, Platform.SystemTable()), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Platform.Find(UiGuid), nullptr);
  EXPECT_EQ(Platform.LivePoolCount(), 0u);

  // A handle without a loaded image: the interface was installed, so it is
  // uninstalled before the record is freed.
  EFI_HANDLE NotAnImage = Platform.NewHandle();
  EXPECT_EQ(UiScreenEntryPoint(NotAnImage, Platform.SystemTable()), EFI_UNSUPPORTED);
  EXPECT_EQ(Platform.Find(UiGuid), nullptr);
  EXPECT_EQ(Platform.LivePoolCount(), 0u);

  // The next load works.
  EXPECT_EQ(UiScreenEntryPoint(Image, Platform.SystemTable()), EFI_SUCCESS);
  EXPECT_EQ(DriverUnload(Image), EFI_SUCCESS);
  EXPECT_EQ(Platform.LivePoolCount(), 0u);
}

EFI_STATUS EFIAPI RefuseInstall(EFI_HANDLE *, const EFI_GUID *, EFI_INTERFACE_TYPE, VOID *) { return EFI_OUT_OF_RESOURCES; }
EFI_STATUS EFIAPI RefuseUninstall(EFI_HANDLE, const EFI_GUID *, VOID *) { return EFI_ACCESS_DENIED; }

TEST_F(EntryTest, FailedInstallFreesTheRecordAndReturnsTheStatus) {
  Platform.BootServices()->InstallProtocolInterface = RefuseInstall;
  EXPECT_EQ(UiScreenEntryPoint(Image, Platform.SystemTable()), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Platform.LivePoolCount(), 0u);
  EXPECT_EQ(Platform.LoadedImage(Image)->Unload, nullptr);
}

TEST_F(EntryTest, UnloadFailuresKeepTheRecord) {
  ASSERT_EQ(UiScreenEntryPoint(Image, Platform.SystemTable()), EFI_SUCCESS);
  UI_SCREEN_PROTOCOL *Ui = Installed(Image);

  // While a run is active the code that runs must stay: refused, all installed.
  RunRecordForTest()->Active = 1;
  EXPECT_EQ(DriverUnload(Image), EFI_ACCESS_DENIED);
  EXPECT_EQ(Installed(Image), Ui);
  EXPECT_TRUE(Platform.IsLive(Ui));
  RunRecordForTest()->Active = 0;

  auto *Saved = Platform.BootServices()->UninstallProtocolInterface;
  Platform.BootServices()->UninstallProtocolInterface = RefuseUninstall;
  EXPECT_EQ(DriverUnload(Image), EFI_ACCESS_DENIED);
  EXPECT_TRUE(Platform.IsLive(Ui));
  Platform.BootServices()->UninstallProtocolInterface = Saved;

  // A handle without the interface: that status, nothing freed.
  EXPECT_EQ(DriverUnload(Platform.NewImageHandle()), EFI_UNSUPPORTED);
  EXPECT_TRUE(Platform.IsLive(Ui));

  EXPECT_EQ(DriverUnload(Image), EFI_SUCCESS);
  EXPECT_EQ(DriverUnload(Image), EFI_UNSUPPORTED);  // already gone
  EXPECT_EQ(Platform.LivePoolCount(), 0u);
}

TEST_F(EntryTest, RunSlotReachesTheRunAndUnloadWorksBetweenRuns) {
  ASSERT_EQ(UiScreenEntryPoint(Image, Platform.SystemTable()), EFI_SUCCESS);
  UI_SCREEN_PROTOCOL *Ui = Installed(Image);
  EXPECT_EQ(Ui->Run(Ui, nullptr), EFI_INVALID_PARAMETER);
  // Without the graphics console the run ends at its start, and says why.
  UI_RUN_PARAMETERS Parameters = {};
  EXPECT_EQ(Ui->Run(Ui, &Parameters), EFI_NOT_FOUND);
  EXPECT_NE(Platform.ConsoleTranscript().find("LocateProtocol gAdvancedGcProtocolGuid error Not Found"), std::string::npos);
  EXPECT_EQ(ActiveRun(), nullptr);
  EXPECT_EQ(Platform.LoadedImage(Image)->Unload(Image), EFI_SUCCESS);
  EXPECT_EQ(Platform.LivePoolCount(), 0u);
}

}  // namespace
