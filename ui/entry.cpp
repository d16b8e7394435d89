// SPDX-License-Identifier: BSD-2-Clause-Patent
// The UI driver's entry point and unload, and the protocol functions that let
// the caller of a run write into its windows and move the progress bar. The
// functions other than Run work only while a run is in progress: the windows
// and the graphics output they use belong to the run.
#include "ui/entry.h"

#include "ui/browser.h"
#include "ui/status_report.h"
#include "ui/format.h"
#include "ui/guids.h"
#include "ui/layout.h"
#include "ui/pictures.h"
#include "ui/run.h"
#include "ui/window_text.h"

namespace {

// Printable attributes only: bit 7 is the compositor's, never the caller's.
constexpr UINT64 CALLER_ATTRIBUTE_MASK = 0x7F;

// The windows a caller addresses by selector, with the attribute used when
// the caller gives none. Print shifts the message box's rows below its border.
struct WINDOW_SELECTOR {
  UI_WINDOW **Window;
  UINT8 DefaultAttribute;
  UINT8 RowShift;
};

const WINDOW_SELECTOR WindowSelectors[] = {
    {&RunWindows.MessageBox, ATTR_WHITE_ON_BLUE, 1},         // UI_WINDOW_MESSAGE_BOX
    {&RunWindows.VolumeListWindow, ATTR_WHITE_ON_BLACK, 0},  // UI_WINDOW_VOLUME_LIST
    {&RunWindows.FileListWindow, ATTR_WHITE_ON_GREEN, 0},    // UI_WINDOW_FILE_LIST
    {&RunWindows.FileInfoWindow, ATTR_WHITE_ON_BLACK, 0},    // UI_WINDOW_FILE_INFO
    {&RunWindows.CallerWindow, ATTR_WHITE_ON_BLACK, 0},      // UI_WINDOW_CALLER
};
constexpr UINT32 SELECTOR_COUNT = sizeof(WindowSelectors) / sizeof(WindowSelectors[0]);

// Any other selector prints into the message box, without the row shift.
const WINDOW_SELECTOR OtherSelector = {&RunWindows.MessageBox, ATTR_WHITE_ON_BLUE, 0};

// Clear and ClearLine: the window and attribute of a selector; an attribute of
// all ones means the window's default.
EFI_STATUS SelectForClear(UINT32 Selector, UINT64 *Attribute, UI_WINDOW **Window, UINT64 *ChosenAttribute) {
  if (ActiveRun() == nullptr) return EFI_NO_MAPPING;
  if (Selector >= SELECTOR_COUNT) return EFI_INVALID_PARAMETER;
  *Window = *WindowSelectors[Selector].Window;
  *ChosenAttribute = WindowSelectors[Selector].DefaultAttribute;
  if (Attribute != nullptr && *Attribute != ~0ULL) *ChosenAttribute = *Attribute & CALLER_ATTRIBUTE_MASK;
  return EFI_SUCCESS;
}

}  // namespace

EFI_STATUS EFIAPI DriverUnload(EFI_HANDLE ImageHandle) {
  // Unloading in the middle of a run would free the code that is running.
  if (ActiveRun() != nullptr) return EFI_ACCESS_DENIED;

  VOID *Interface = nullptr;
  EFI_STATUS Status = gBS->HandleProtocol(ImageHandle, &gUiScreenProtocolGuid, &Interface);
  if (EFI_ERROR(Status)) return Status;
  Status = gBS->UninstallProtocolInterface(ImageHandle, &gUiScreenProtocolGuid, Interface);
  if (EFI_ERROR(Status)) return Status;
  gBS->FreePool(Interface);
  return Status;
}

EFI_EXTERN_C EFI_STATUS EFIAPI UiScreenEntryPoint(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EfiInitializeDriverLib(ImageHandle, SystemTable);

  // One UI driver per system.
  VOID *Existing = nullptr;
  if (!EFI_ERROR(gBS->LocateProtocol(&gUiScreenProtocolGuid, nullptr, &Existing)) && Existing != nullptr) return EFI_ACCESS_DENIED;

  UI_SCREEN_PROTOCOL *Interface = nullptr;
  EFI_STATUS Status = gBS->AllocatePool(EfiBootServicesData, sizeof(*Interface), (VOID **)&Interface);
  if (EFI_ERROR(Status)) return Status;
  __builtin_memset(Interface, 0, sizeof(*Interface));
  Interface->Revision = UI_SCREEN_PROTOCOL_REVISION;
  Interface->ImageHandle = ImageHandle;
  Interface->SystemTable = SystemTable;
  Interface->Run = Run;
  Interface->Print = Print;
  Interface->Clear = Clear;
  Interface->ClearLine = ClearLine;
  Interface->NoOperation = NoOperation;
  Interface->DrawProgressFrame = DrawProgressFrame;
  Interface->SetProgress = SetProgress;

  EFI_HANDLE Handle = ImageHandle;  // lands on the driver's own image handle
  Status = gBS->InstallProtocolInterface(&Handle, &gUiScreenProtocolGuid, EFI_NATIVE_INTERFACE, Interface);
  if (EFI_ERROR(Status)) {
    gBS->FreePool(Interface);
    return Status;
  }

  EFI_LOADED_IMAGE_PROTOCOL *LoadedImage = nullptr;
  Status =
      gBS->OpenProtocol(ImageHandle, &gEfiLoadedImageProtocolGuid, (VOID **)&LoadedImage, nullptr, nullptr, EFI_OPEN_PROTOCOL_GET_PROTOCOL);
  if (EFI_ERROR(Status) || LoadedImage == nullptr) {
    // Without a way to unload, the driver must not stay half set up; the record
    // is released only once nobody can find it any more.
    if (!EFI_ERROR(gBS->UninstallProtocolInterface(ImageHandle, &gUiScreenProtocolGuid, Interface))) gBS->FreePool(Interface);
    return EFI_ERROR(Status) ? Status : EFI_NOT_FOUND;
  }
  LoadedImage->Unload = DriverUnload;
  return EFI_SUCCESS;
}

UINTN EFIAPI Print(UI_TEXT_POSITION *Position, UINT32 *Attribute, const CHAR16 *Format, ...) {
  if (Position == nullptr || ActiveRun() == nullptr) return 0;

  const WINDOW_SELECTOR &Selector = Position->Window < SELECTOR_COUNT ? WindowSelectors[Position->Window] : OtherSelector;
  UI_WINDOW *Window = *Selector.Window;
  UINT64 CellAttribute = Attribute != nullptr ? (*Attribute & CALLER_ATTRIBUTE_MASK) : Selector.DefaultAttribute;
  UINT32 Mode = Position->Mode <= TEXT_MODE_CENTRE ? Position->Mode : TEXT_MODE_LEFT;

  UINT64 Row;
  if (Window == nullptr || __builtin_add_overflow(Position->Row, (UINT64)Selector.RowShift, &Row)) return 0;
  if (Row >= Window->Height) return 0;
  if (Mode != TEXT_MODE_CENTRE && Position->Column >= Window->Width) return 0;

  CHAR16 Text[FORMAT_PRINT_BUFFER_SIZE / sizeof(CHAR16)];
  EFI_VA_LIST Args;
  EFI_VA_START(Args, Format);
  FormatStringV(Text, sizeof(Text), Format, Args);
  EFI_VA_END(Args);

  UI_CELL_POSITION Cell = {Position->Column, Row, CellAttribute};
  UINTN Count = 0;
  switch (Mode) {
    case TEXT_MODE_WRAP:
      Count = WindowWriteText(Window, Text, &Cell, (BOOLEAN)1);
      break;
    case TEXT_MODE_RIGHT:
      Count = WindowWriteTextRight(Window, Text, &Cell);
      break;
    case TEXT_MODE_CENTRE:
      // The five named windows centre on their middle column whatever the caller asked.
      if (Position->Window < SELECTOR_COUNT) Cell.Column = Window->Width * 50 / 100;
      Count = WindowWriteTextCentred(Window, Text, &Cell);
      break;
    default:
      Count = WindowWriteText(Window, Text, &Cell, (BOOLEAN)0);
      break;
  }

  // Every write into the box brings it to the front over its grey backdrop.
  if (Window == RunWindows.MessageBox) {
    WindowSetPriority(RunWindows.MessageBox, MESSAGE_BOX_SHOWN_PRIORITY);
    ShadeMessageBoxArea();
  }
  return Count;
}

EFI_STATUS EFIAPI Clear(UINT32 Window, UINT64 *Attribute) {
  UI_WINDOW *Target = nullptr;
  UINT64 CellAttribute = 0;
  EFI_STATUS Status = SelectForClear(Window, Attribute, &Target, &CellAttribute);
  if (EFI_ERROR(Status)) return Status;
  if (Target == nullptr) return EFI_NOT_READY;

  if (Window == UI_WINDOW_MESSAGE_BOX) {
    // Hiding the box blanks it in its own colours; the caller's attribute does not apply.
    ShowMessageBox((BOOLEAN)0, Target);
    UnshadeMessageBoxArea();
    return EFI_SUCCESS;
  }
  WindowClear(Target, &CellAttribute);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI ClearLine(UINT32 Window, UINT64 Row, UINT64 *Attribute) {
  UI_WINDOW *Target = nullptr;
  UINT64 CellAttribute = 0;
  EFI_STATUS Status = SelectForClear(Window, Attribute, &Target, &CellAttribute);
  if (EFI_ERROR(Status)) return Status;
  if (Target == nullptr) return EFI_NOT_READY;
  return WindowClearRow(Target, Row, &CellAttribute);
}

EFI_STATUS EFIAPI NoOperation(VOID) { return EFI_SUCCESS; }

EFI_STATUS EFIAPI DrawProgressFrame(VOID) {
  if (ActiveRun() != nullptr) DrawProgressBarFrame();
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SetProgress(UINT8 Percent, UINT32 Style) {
  if (ActiveRun() != nullptr) DrawProgressStep(Percent, Style);
  return EFI_SUCCESS;
}
