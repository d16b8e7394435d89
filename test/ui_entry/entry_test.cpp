// Loading and unloading the UI driver, and the protocol functions a caller
// uses during a run: window and attribute choice, refusal outside a run.
#include <gtest/gtest.h>

#include "doubles.h"
#include "test/fake/fake.h"
#include "ui/driver_lib.h"
#include "ui/entry.h"
#include "ui/layout.h"
#include "ui/run.h"

using entrytest::Call;
using entrytest::CallNames;
using entrytest::Calls;
using Names = std::vector<std::string>;

namespace {

const EFI_GUID UiGuid = UI_SCREEN_PROTOCOL_GUID;

class EntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DriverLibForgetInterfaces();
    RunActive = 0;
    Calls.clear();
    entrytest::RunBody = nullptr;
    Image = Platform.NewImageHandle();
  }
  void TearDown() override {
    RunActive = 0;
    entrytest::RunBody = nullptr;
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
  RunActive = 1;
  EXPECT_EQ(DriverUnload(Image), EFI_ACCESS_DENIED);
  EXPECT_EQ(Installed(Image), Ui);
  EXPECT_TRUE(Platform.IsLive(Ui));
  RunActive = 0;

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
  UI_RUN_PARAMETERS Parameters = {};
  EFI_STATUS Inner = 0;
  entrytest::RunBody = [&](UI_SCREEN_PROTOCOL *This, UI_RUN_PARAMETERS *P) {
    EXPECT_EQ(This, Ui);
    EXPECT_EQ(P, &Parameters);
    Inner = DriverUnload(Image);  // from a hook, in the middle of the run
    return EFI_END_OF_MEDIA;
  };
  EXPECT_EQ(Ui->Run(Ui, &Parameters), EFI_END_OF_MEDIA);
  EXPECT_EQ(Inner, EFI_ACCESS_DENIED);
  EXPECT_EQ(Installed(Image), Ui);
  EXPECT_EQ(Platform.LoadedImage(Image)->Unload(Image), EFI_SUCCESS);
  EXPECT_EQ(Platform.LivePoolCount(), 0u);
}

// ---- The six functions besides Run ----

class ProtocolFunctionsTest : public EntryTest {
 protected:
  entrytest::Windows W;
};

TEST_F(ProtocolFunctionsTest, OutsideARunNothingIsTouched) {
  UI_TEXT_POSITION Position = {UI_WINDOW_CALLER, 0, 0, 0, TEXT_MODE_LEFT, 0};
  UINT64 Attribute = 0x1F;
  EXPECT_EQ(Print(&Position, nullptr, u"text"), 0u);
  EXPECT_EQ(Clear(1, nullptr), EFI_NO_MAPPING);
  EXPECT_EQ(Clear(0, &Attribute), EFI_NO_MAPPING);
  EXPECT_EQ(Clear(9, nullptr), EFI_NO_MAPPING);
  EXPECT_EQ(ClearLine(2, 0, nullptr), EFI_NO_MAPPING);
  EXPECT_EQ(NoOperation(), EFI_SUCCESS);
  EXPECT_EQ(DrawProgressFrame(), EFI_SUCCESS);
  EXPECT_EQ(SetProgress(50, 1), EFI_SUCCESS);
  EXPECT_TRUE(Calls.empty()) << CallNames()[0];
}

TEST_F(ProtocolFunctionsTest, PrintIntoTheMessageBoxSkipsItsTopBorderAndShowsIt) {
  RunActive = 1;
  UI_TEXT_POSITION Position = {UI_WINDOW_MESSAGE_BOX, 0xDEAD, 0, 0, TEXT_MODE_LEFT, 0xBEEF};
  EXPECT_EQ(Print(&Position, nullptr, u"%s", u"OK"), 2u);
  EXPECT_EQ(CallNames(), (Names{"WriteText", "SetPriority", "Shade"}));
  EXPECT_EQ(Calls[0].Window, &W.Box);
  EXPECT_EQ(Calls[0].Text, u"OK");
  EXPECT_EQ(Calls[0].Row, 1u);
  EXPECT_EQ(Calls[0].Column, 0u);
  EXPECT_EQ(Calls[0].Attribute, 0x1Fu);
  EXPECT_EQ(Calls[1].Window, &W.Box);
  EXPECT_EQ(Calls[1].Value, 64u);

  // The last inner row is row 6 for the caller; row 7 would be the bottom border.
  Calls.clear();
  Position.Row = 6;
  EXPECT_EQ(Print(&Position, nullptr, u"x"), 1u);
  EXPECT_EQ(Calls[0].Row, 7u);
  Calls.clear();
  Position.Row = 7;
  EXPECT_EQ(Print(&Position, nullptr, u"x"), 0u);
  Position.Row = ~0ULL;  // would wrap to the top border
  EXPECT_EQ(Print(&Position, nullptr, u"x"), 0u);
  EXPECT_TRUE(Calls.empty());
}

TEST_F(ProtocolFunctionsTest, OtherSelectorsPrintIntoTheBoxWithoutTheRowShift) {
  RunActive = 1;
  UI_TEXT_POSITION Position = {7, 0, 3, 2, TEXT_MODE_LEFT, 0};
  EXPECT_EQ(Print(&Position, nullptr, u"hi"), 2u);
  EXPECT_EQ(CallNames(), (Names{"WriteText", "SetPriority", "Shade"}));
  EXPECT_EQ(Calls[0].Window, &W.Box);
  EXPECT_EQ(Calls[0].Row, 2u);
  EXPECT_EQ(Calls[0].Column, 3u);
  EXPECT_EQ(Calls[0].Attribute, 0x1Fu);
  // Row 7 is inside the box here (its bottom border row).
  Calls.clear();
  Position.Row = 7;
  EXPECT_EQ(Print(&Position, nullptr, u"z"), 1u);
  EXPECT_EQ(Calls[0].Row, 7u);
}

TEST_F(ProtocolFunctionsTest, PrintChoosesWindowDefaultAttributeAndMask) {
  RunActive = 1;
  const struct {
    UINT32 Selector;
    UI_WINDOW *Window;
    UINT64 Default;
  } Expect[] = {{1, &W.VolumeList, 0x0F}, {2, &W.FileList, 0x2F}, {3, &W.FileInfo, 0x0F}, {4, &W.Caller, 0x0F}};
  for (auto &E : Expect) {
    SCOPED_TRACE(E.Selector);
    UI_TEXT_POSITION Position = {E.Selector, 0, 1, 2, TEXT_MODE_LEFT, 0};
    Calls.clear();
    EXPECT_EQ(Print(&Position, nullptr, u"%d", (UINT64)12345), 5u);
    ASSERT_EQ(CallNames(), (Names{"WriteText"}));  // the box stays as it is
    EXPECT_EQ(Calls[0].Window, E.Window);
    EXPECT_EQ(Calls[0].Row, 2u);
    EXPECT_EQ(Calls[0].Attribute, E.Default);

    UINT32 Attribute = 0xFFFFFFFF;
    Calls.clear();
    Print(&Position, &Attribute, u"a");
    EXPECT_EQ(Calls[0].Attribute, 0x7Fu);
    Attribute = 0x1C4;  // bit 7 and above are not the caller's
    Calls.clear();
    Print(&Position, &Attribute, u"a");
    EXPECT_EQ(Calls[0].Attribute, 0x44u);
  }
}

TEST_F(ProtocolFunctionsTest, PrintRefusesMissingWindowsAndCellsOutsideThem) {
  RunActive = 1;
  EXPECT_EQ(Print(nullptr, nullptr, u"x"), 0u);
  UI_TEXT_POSITION Position = {UI_WINDOW_FILE_LIST, 0, 0, 7, TEXT_MODE_LEFT, 0};
  EXPECT_EQ(Print(&Position, nullptr, u"x"), 0u);  // seven rows: 0 to 6
  Position.Row = 6;
  Position.Column = 21;
  EXPECT_EQ(Print(&Position, nullptr, u"x"), 0u);  // 21 columns: 0 to 20
  Position.Mode = TEXT_MODE_RIGHT;
  EXPECT_EQ(Print(&Position, nullptr, u"x"), 0u);
  EXPECT_TRUE(Calls.empty());

  FileListWindow = nullptr;
  Position = {UI_WINDOW_FILE_LIST, 0, 0, 0, TEXT_MODE_LEFT, 0};
  EXPECT_EQ(Print(&Position, nullptr, u"x"), 0u);
  MessageBox = nullptr;
  Position.Window = 9;
  EXPECT_EQ(Print(&Position, nullptr, u"x"), 0u);
  EXPECT_TRUE(Calls.empty());
}

TEST_F(ProtocolFunctionsTest, PrintModesAndTheCentreColumn) {
  RunActive = 1;
  UI_TEXT_POSITION Position = {UI_WINDOW_CALLER, 0, 4, 1, TEXT_MODE_WRAP, 0};
  Print(&Position, nullptr, u"w");
  Position.Mode = TEXT_MODE_RIGHT;
  Print(&Position, nullptr, u"r");
  Position.Mode = 9;  // unknown modes write left-aligned
  Print(&Position, nullptr, u"l");
  EXPECT_EQ(CallNames(), (Names{"WriteTextWrap", "WriteTextRight", "WriteText"}));
  for (auto &C : Calls) EXPECT_EQ(C.Column, 4u);

  // Centred text in the five named windows centres on the middle column,
  // whatever column the caller gave, even one outside the window.
  Calls.clear();
  Position = {UI_WINDOW_FILE_LIST, 0, 500, 3, TEXT_MODE_CENTRE, 0};
  EXPECT_EQ(Print(&Position, nullptr, u"mid"), 3u);
  ASSERT_EQ(CallNames(), (Names{"WriteTextCentred"}));
  EXPECT_EQ(Calls[0].Column, 10u);  // 21 * 50 / 100
  Calls.clear();
  Position = {UI_WINDOW_MESSAGE_BOX, 0, 0, 2, TEXT_MODE_CENTRE, 0};
  Print(&Position, nullptr, u"mid");
  EXPECT_EQ(Calls[0].Column, 20u);
  EXPECT_EQ(Calls[0].Row, 3u);
  // Other selectors keep the caller's column.
  Calls.clear();
  Position = {5, 0, 33, 2, TEXT_MODE_CENTRE, 0};
  Print(&Position, nullptr, u"mid");
  EXPECT_EQ(Calls[0].Column, 33u);
}

TEST_F(ProtocolFunctionsTest, PrintFormatsItsArgumentsIntoThreeHundredNineteenCharacters) {
  RunActive = 1;
  UI_TEXT_POSITION Position = {UI_WINDOW_CALLER, 0, 0, 0, TEXT_MODE_LEFT, 0};
  Print(&Position, nullptr, u"%a %r %5d|", "File", EFI_NOT_FOUND, (UINT64)42);
  EXPECT_EQ(Calls[0].Text, u"File Not Found    42|");
  std::u16string Long(400, u'q');
  Calls.clear();
  Print(&Position, nullptr, u"%s", Long.c_str());
  EXPECT_EQ(Calls[0].Text.size(), 319u);
}

TEST_F(ProtocolFunctionsTest, ClearChoosesWindowAndAttribute) {
  RunActive = 1;
  UINT64 AllOnes = ~0ULL, Wide = 0x1FF;
  EXPECT_EQ(Clear(1, nullptr), EFI_SUCCESS);
  EXPECT_EQ(Clear(2, &AllOnes), EFI_SUCCESS);
  EXPECT_EQ(Clear(3, &Wide), EFI_SUCCESS);
  EXPECT_EQ(Clear(4, nullptr), EFI_SUCCESS);
  ASSERT_EQ(CallNames(), (Names{"Clear", "Clear", "Clear", "Clear"}));
  EXPECT_EQ(Calls[0].Window, &W.VolumeList);
  EXPECT_EQ(Calls[0].Attribute, 0x0Fu);
  EXPECT_EQ(Calls[1].Window, &W.FileList);
  EXPECT_EQ(Calls[1].Attribute, 0x2Fu);
  EXPECT_EQ(Calls[2].Window, &W.FileInfo);
  EXPECT_EQ(Calls[2].Attribute, 0x7Fu);
  EXPECT_EQ(Calls[3].Window, &W.Caller);

  Calls.clear();
  EXPECT_EQ(Clear(5, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Clear(0xFFFFFFFF, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(Calls.empty());
}

TEST_F(ProtocolFunctionsTest, ClearOfTheBoxHidesIt) {
  RunActive = 1;
  UINT64 Attribute = 0x4E;
  EXPECT_EQ(Clear(0, &Attribute), EFI_SUCCESS);
  EXPECT_EQ(CallNames(), (Names{"HideBox", "Unshade"}));
  EXPECT_EQ(Calls[0].Window, &W.Box);
}

TEST_F(ProtocolFunctionsTest, ClearLineRowsAndAttributes) {
  RunActive = 1;
  EXPECT_EQ(ClearLine(2, 7, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(ClearLine(2, 6, nullptr), EFI_SUCCESS);
  EXPECT_EQ(Calls[1].Window, &W.FileList);
  EXPECT_EQ(Calls[1].Row, 6u);
  EXPECT_EQ(Calls[1].Attribute, 0x2Fu);
  // The box's row 0 is its top border: no shift here.
  Calls.clear();
  UINT64 Attribute = 0x8A;
  EXPECT_EQ(ClearLine(0, 0, &Attribute), EFI_SUCCESS);
  EXPECT_EQ(Calls[0].Window, &W.Box);
  EXPECT_EQ(Calls[0].Row, 0u);
  EXPECT_EQ(Calls[0].Attribute, 0x0Au);
  Calls.clear();
  EXPECT_EQ(ClearLine(5, 0, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(Calls.empty());
}

TEST_F(ProtocolFunctionsTest, ProgressDrawsOnlyDuringARun) {
  RunActive = 1;
  EXPECT_EQ(DrawProgressFrame(), EFI_SUCCESS);
  EXPECT_EQ(SetProgress(37, 2), EFI_SUCCESS);
  ASSERT_EQ(CallNames(), (Names{"DrawFrame", "DrawStep"}));
  EXPECT_EQ(Calls[1].Value, 37u);
  EXPECT_EQ(Calls[1].Attribute, 2u);
}

TEST_F(ProtocolFunctionsTest, FunctionsWorkFromInsideARunAndRunsDoNotNest) {
  ASSERT_EQ(UiScreenEntryPoint(Image, Platform.SystemTable()), EFI_SUCCESS);
  UI_SCREEN_PROTOCOL *Ui = Installed(Image);
  UI_RUN_PARAMETERS Parameters = {};
  entrytest::RunBody = [&](UI_SCREEN_PROTOCOL *This, UI_RUN_PARAMETERS *) {
    UI_TEXT_POSITION Position = {UI_WINDOW_CALLER, 0, 0, 0, TEXT_MODE_LEFT, 0};
    EXPECT_EQ(Ui->Print(&Position, nullptr, u"in run"), 6u);
    EXPECT_EQ(Ui->Clear(4, nullptr), EFI_SUCCESS);
    EXPECT_EQ(Ui->ClearLine(4, 0, nullptr), EFI_SUCCESS);
    EXPECT_EQ(This->Run(This, &Parameters), EFI_ACCESS_DENIED);
    return EFI_SUCCESS;
  };
  EXPECT_EQ(Ui->Run(Ui, &Parameters), EFI_SUCCESS);
  EXPECT_EQ(CallNames(), (Names{"Run", "WriteText", "Clear", "ClearRow"}));
  // After the run the functions refuse again.
  UI_TEXT_POSITION Position = {UI_WINDOW_CALLER, 0, 0, 0, TEXT_MODE_LEFT, 0};
  EXPECT_EQ(Ui->Print(&Position, nullptr, u"late"), 0u);
  EXPECT_EQ(Ui->Clear(4, nullptr), EFI_NO_MAPPING);
  EXPECT_EQ(DriverUnload(Image), EFI_SUCCESS);
}

}  // namespace
