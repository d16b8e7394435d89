// SPDX-License-Identifier: BSD-2-Clause-Patent
// The flash tool's run: the six hooks and the clock that make one UI run a
// small flash utility. A chosen file is read and shown with its checksum, the
// user confirms, the file is written into the emulated part with a progress
// bar, read back and verified; the result stays in the message box until a
// key ends the run.
#include "examples/flash_tool/demo.h"

// The largest file the tool takes and the unit BIOS files come in.
#define DEMO_UNIT_SIZE 0x10000ULL
#define DEMO_MAX_SIZE (32ULL * 1024 * 1024)

namespace {

struct FlashTool {
  UI_SCREEN_PROTOCOL *Ui;
  FlashPart Part;
  EFI_EVENT Clock;        // one-second timer of the tool's own
  volatile BOOLEAN Tick;  // set by the timer, taken by the run's wait
  UINTN ClockUpdates;
  // The chosen file, read whole.
  UINT8 *Image;
  UINTN ImageSize;
  UINT32 ImageCrc;
  BOOLEAN ReadFailed;
  CHAR16 Name[64];
  // The last update.
  UINTN Updates;
  BOOLEAN Verified;
  UINTN MismatchAt;
};

FlashTool Tool;

UI_TEXT_POSITION At(UINT32 Window, UINT64 Column, UINT64 Row, UINT32 Mode = TEXT_MODE_LEFT) {
  UI_TEXT_POSITION p = {};
  p.Window = Window;
  p.Column = Column;
  p.Row = Row;
  p.Mode = Mode;
  return p;
}

// Print's arguments are 64-bit slots; pointers go as they are.
#define UI_PRINT(Window, Column, Row, Mode, ...)                   \
  do {                                                             \
    UI_TEXT_POSITION pos_ = At((Window), (Column), (Row), (Mode)); \
    Tool.Ui->Print(&pos_, nullptr, __VA_ARGS__);                   \
  } while (0)

VOID ReleaseImage() {
  if (Tool.Image != nullptr) gBS->FreePool(Tool.Image);
  Tool.Image = nullptr;
  Tool.ImageSize = 0;
}

// The file list only offers BIOS-sized files; the tool still checks what it
// reads, since the file may have changed since the directory was read.
EFI_STATUS ReadChosenFile(EFI_FILE_PROTOCOL *Root, EFI_FILE_INFO *Info) {
  if (Root == nullptr || Info == nullptr) return EFI_INVALID_PARAMETER;
  if (Info->FileSize == 0 || Info->FileSize > Tool.Part.Size) return EFI_BAD_BUFFER_SIZE;
  EFI_FILE_PROTOCOL *file = nullptr;
  EFI_STATUS status = Root->Open(Root, &file, Info->FileName, EFI_FILE_MODE_READ, 0);
  if (EFI_ERROR(status)) return status;
  UINTN size = (UINTN)Info->FileSize;
  VOID *data = nullptr;
  status = gBS->AllocatePool(EfiBootServicesData, size, &data);
  if (!EFI_ERROR(status)) {
    UINTN read = size;
    status = file->Read(file, &read, data);
    if (!EFI_ERROR(status) && read != size) status = EFI_END_OF_FILE;
    if (EFI_ERROR(status)) {
      gBS->FreePool(data);
    } else {
      Tool.Image = (UINT8 *)data;
      Tool.ImageSize = size;
    }
  }
  file->Close(file);
  if (EFI_ERROR(status)) return status;
  return gBS->CalculateCrc32(Tool.Image, Tool.ImageSize, &Tool.ImageCrc);
}

VOID CopyName(const CHAR16 *Name) {
  UINTN n = 0;
  for (; Name[n] && n + 1 < sizeof Tool.Name / sizeof Tool.Name[0]; n++) Tool.Name[n] = Name[n];
  Tool.Name[n] = 0;
}

// ---- Hooks ----

EFI_STATUS EFIAPI FileChosenEnter(EFI_FILE_PROTOCOL *Root, EFI_FILE_INFO *File, VOID *) {
  ReleaseImage();
  Tool.ReadFailed = 0;
  CopyName(File ? File->FileName : u"?");
  Tool.Ui->Clear(UI_WINDOW_CALLER, nullptr);
  EFI_STATUS status = ReadChosenFile(Root, File);
  DemoPrint("@demo chosen %s %r\n", Tool.Name, status);
  UI_PRINT(UI_WINDOW_CALLER, 1, 1, TEXT_MODE_LEFT, u"File     : %s", Tool.Name);
  if (EFI_ERROR(status)) {
    Tool.ReadFailed = 1;
    UI_PRINT(UI_WINDOW_CALLER, 1, 2, TEXT_MODE_LEFT, u"Read     : %r", status);
    UI_PRINT(UI_WINDOW_MESSAGE_BOX, 0, 1, TEXT_MODE_CENTRE, u"Cannot read this file");
    UI_PRINT(UI_WINDOW_MESSAGE_BOX, 0, 2, TEXT_MODE_CENTRE, u"%r", status);
    UI_PRINT(UI_WINDOW_MESSAGE_BOX, 0, 4, TEXT_MODE_CENTRE, u"Press any key");
    return EFI_SUCCESS;  // an error here would end the whole run
  }
  UI_PRINT(UI_WINDOW_CALLER, 1, 2, TEXT_MODE_LEFT, u"Size     : %,d bytes (%d KiB)", (UINT64)Tool.ImageSize,
           (UINT64)(Tool.ImageSize / 1024));
  UI_PRINT(UI_WINDOW_CALLER, 1, 3, TEXT_MODE_LEFT, u"CRC32    : %08x", (UINT64)Tool.ImageCrc);
  UI_PRINT(UI_WINDOW_CALLER, 1, 4, TEXT_MODE_LEFT, u"Target   : emulated flash part, %d KiB in memory", (UINT64)(Tool.Part.Size / 1024));
  UI_PRINT(UI_WINDOW_MESSAGE_BOX, 0, 0, TEXT_MODE_CENTRE, u"Update the flash with");
  UI_PRINT(UI_WINDOW_MESSAGE_BOX, 0, 1, TEXT_MODE_CENTRE, u"%s ?", Tool.Name);
  UI_PRINT(UI_WINDOW_MESSAGE_BOX, 0, 3, TEXT_MODE_CENTRE, u"CRC32 %08x", (UINT64)Tool.ImageCrc);
  UI_PRINT(UI_WINDOW_MESSAGE_BOX, 0, 5, TEXT_MODE_CENTRE, u"Enter: update    Esc: back");
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI FileChosenKey(EFI_INPUT_KEY *Key, KEY_STATE *) {
  if (Tool.ReadFailed || Key->ScanCode == SCAN_ESC) {
    ReleaseImage();
    Tool.Ui->Clear(UI_WINDOW_MESSAGE_BOX, nullptr);
    Tool.Ui->Clear(UI_WINDOW_CALLER, nullptr);
    return EFI_NOT_READY;  // back to the file list
  }
  if (Key->UnicodeChar == CHAR_CARRIAGE_RETURN) return EFI_SUCCESS;  // on to the update
  return EFI_UNSUPPORTED;                                            // any other key: the question stays
}

// Erases and programs the image, one percent of it at a time, moving the bar.
EFI_STATUS WriteImage() {
  UINTN erased = 0;  // bytes of whole blocks erased so far
  UINTN written = 0;
  for (UINTN percent = 1; percent <= 100; percent++) {
    UINTN end = (UINTN)((UINT64)Tool.ImageSize * percent / 100);
    while (erased < end) {
      EFI_STATUS status = FlashEraseBlock(&Tool.Part, erased);
      if (EFI_ERROR(status)) return status;
      erased += FLASH_BLOCK_SIZE;
    }
    EFI_STATUS status = FlashProgram(&Tool.Part, written, Tool.Image + written, end - written);
    if (EFI_ERROR(status)) return status;
    written = end;
    Tool.Ui->SetProgress((UINT8)percent, 1);
    if (percent % 10 == 0) DemoPrint("@demo progress %u\n", (UINT32)percent);
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI FileFollowUpEnter(EFI_FILE_PROTOCOL *, EFI_FILE_INFO *, VOID *) {
  Tool.Ui->Clear(UI_WINDOW_MESSAGE_BOX, nullptr);
  UI_PRINT(UI_WINDOW_MESSAGE_BOX, 0, 1, TEXT_MODE_CENTRE, u"Updating the flash ...");
  UI_PRINT(UI_WINDOW_MESSAGE_BOX, 0, 3, TEXT_MODE_CENTRE, u"Do not switch off");
  UI_PRINT(UI_WINDOW_CALLER, 1, 5, TEXT_MODE_LEFT, u"Status   : writing");
  Tool.Ui->DrawProgressFrame();
  Tool.Ui->SetProgress(0, 1);

  EFI_STATUS status = Tool.Image ? WriteImage() : EFI_NOT_READY;
  Tool.Verified = 0;
  Tool.MismatchAt = 0;
  UINT32 crc = 0;
  if (!EFI_ERROR(status)) {
    // Read back what the part holds now, as the user would trust nothing less.
    Tool.MismatchAt = FlashCompare(&Tool.Part, 0, Tool.Image, Tool.ImageSize);
    status = gBS->CalculateCrc32(Tool.Part.Base, Tool.ImageSize, &crc);
    Tool.Verified = !EFI_ERROR(status) && Tool.MismatchAt == Tool.ImageSize && crc == Tool.ImageCrc;
  }
  Tool.Updates++;
  DemoPrint("@demo flashed %s %r verified %u crc %x erases %u\n", Tool.Name, status, (UINT32)Tool.Verified, crc, (UINT32)Tool.Part.Erases);

  Tool.Ui->Clear(UI_WINDOW_MESSAGE_BOX, nullptr);
  if (Tool.Verified) {
    UI_PRINT(UI_WINDOW_MESSAGE_BOX, 0, 0, TEXT_MODE_CENTRE, u"Update complete");
    UI_PRINT(UI_WINDOW_MESSAGE_BOX, 0, 2, TEXT_MODE_CENTRE, u"Read back and verified");
    UI_PRINT(UI_WINDOW_MESSAGE_BOX, 0, 3, TEXT_MODE_CENTRE, u"CRC32 %08x", (UINT64)crc);
    UI_PRINT(UI_WINDOW_CALLER, 1, 5, TEXT_MODE_LEFT, u"Status   : verified, %d blocks erased", (UINT64)Tool.Part.Erases);
  } else if (EFI_ERROR(status)) {
    UI_PRINT(UI_WINDOW_MESSAGE_BOX, 0, 0, TEXT_MODE_CENTRE, u"Update FAILED");
    UI_PRINT(UI_WINDOW_MESSAGE_BOX, 0, 2, TEXT_MODE_CENTRE, u"%r", status);
    UI_PRINT(UI_WINDOW_CALLER, 1, 5, TEXT_MODE_LEFT, u"Status   : failed, %r", status);
  } else {
    UI_PRINT(UI_WINDOW_MESSAGE_BOX, 0, 0, TEXT_MODE_CENTRE, u"Verify FAILED");
    UI_PRINT(UI_WINDOW_MESSAGE_BOX, 0, 2, TEXT_MODE_CENTRE, u"first difference at %x", (UINT64)Tool.MismatchAt);
    UI_PRINT(UI_WINDOW_CALLER, 1, 5, TEXT_MODE_LEFT, u"Status   : verify failed");
  }
  UI_PRINT(UI_WINDOW_MESSAGE_BOX, 0, 5, TEXT_MODE_CENTRE, u"Press any key to finish");
  ReleaseImage();
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI FileFollowUpKey(EFI_INPUT_KEY *, KEY_STATE *) { return EFI_END_OF_MEDIA; }

EFI_STATUS EFIAPI EscapeEnter(VOID *, VOID *, VOID *) {
  UI_PRINT(UI_WINDOW_MESSAGE_BOX, 0, 1, TEXT_MODE_CENTRE, u"Leave the flash tool?");
  UI_PRINT(UI_WINDOW_MESSAGE_BOX, 0, 4, TEXT_MODE_CENTRE, u"Enter: leave    Esc: stay");
  DemoPrint("@demo escape\n");
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI EscapeKey(EFI_INPUT_KEY *Key, KEY_STATE *) {
  if (Key->UnicodeChar == CHAR_CARRIAGE_RETURN) return EFI_END_OF_MEDIA;
  if (Key->ScanCode == SCAN_ESC) {
    // The list below is not always redrawn on return, so the box goes here.
    Tool.Ui->Clear(UI_WINDOW_MESSAGE_BOX, nullptr);
    return EFI_NOT_READY;
  }
  return EFI_UNSUPPORTED;
}

// ---- The clock ----

VOID EFIAPI ClockTick(EFI_EVENT, VOID *) { Tool.Tick = 1; }

// Called while the run waits: the run's event becomes signalled once a
// second has passed, and the run then calls ClockShow.
VOID EFIAPI ClockPoll(EFI_EVENT Event, VOID *) {
  if (!Tool.Tick) return;
  Tool.Tick = 0;
  gBS->SignalEvent(Event);
}

EFI_STATUS EFIAPI ClockShow(VOID *) {
  EFI_TIME now = {};
  if (EFI_ERROR(gRT->GetTime(&now, nullptr))) return EFI_SUCCESS;  // no clock: nothing to show
  UI_PRINT(UI_WINDOW_CALLER, 1, 0, TEXT_MODE_RIGHT, u"%02d:%02d:%02d", (UINT64)now.Hour, (UINT64)now.Minute, (UINT64)now.Second);
  Tool.ClockUpdates++;
  return EFI_SUCCESS;
}

}  // namespace

EFI_STATUS DemoRunFlashTool(UI_SCREEN_PROTOCOL *Ui) {
  Tool = {};
  Tool.Ui = Ui;
  EFI_STATUS status = FlashOpen(&Tool.Part, DEMO_MAX_SIZE);
  if (EFI_ERROR(status)) return status;
  status = gBS->CreateEvent(EVT_TIMER | EVT_NOTIFY_SIGNAL, TPL_CALLBACK, ClockTick, nullptr, &Tool.Clock);
  if (!EFI_ERROR(status)) status = gBS->SetTimer(Tool.Clock, TimerPeriodic, 10 * 1000 * 1000);
  if (EFI_ERROR(status)) {
    if (Tool.Clock) gBS->CloseEvent(Tool.Clock);
    FlashClose(&Tool.Part);
    return status;
  }

  UI_RUN_PARAMETERS run = {};
  run.BiosFileUnitSize = DEMO_UNIT_SIZE;
  run.BiosFileMaxSize = DEMO_MAX_SIZE;
  run.HookContext = &Tool;
  run.EventNotify = ClockPoll;
  run.EventHook = ClockShow;
  run.FileChosenEnterHook = FileChosenEnter;
  run.FileChosenKeyHook = FileChosenKey;
  run.FileFollowUpEnterHook = FileFollowUpEnter;
  run.FileFollowUpKeyHook = FileFollowUpKey;
  run.EscapeEnterHook = EscapeEnter;
  run.EscapeKeyHook = EscapeKey;
  DemoPrint("@demo run\n");
  status = Ui->Run(Ui, &run);

  gBS->SetTimer(Tool.Clock, TimerCancel, 0);
  gBS->CloseEvent(Tool.Clock);
  ReleaseImage();
  FlashClose(&Tool.Part);
  DemoPrint("@demo ended %r updates %u verified %u clock %u\n", status, (UINT32)Tool.Updates, (UINT32)Tool.Verified,
           (UINT32)Tool.ClockUpdates);
  return status;
}
