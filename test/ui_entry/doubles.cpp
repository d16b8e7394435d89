#include "doubles.h"

#include "ui/browser.h"
#include "ui/entry.h"
#include "ui/layout.h"
#include "ui/pictures.h"
#include "ui/run.h"
#include "ui/window_text.h"

namespace entrytest {

std::vector<Call> Calls;
std::function<EFI_STATUS(UI_SCREEN_PROTOCOL *, UI_RUN_PARAMETERS *)> RunBody;

std::vector<std::string> CallNames() {
  std::vector<std::string> Names;
  for (auto &C : Calls) Names.push_back(C.Name);
  return Names;
}

static void Size(UI_WINDOW &W, UINTN Width, UINTN Height) {
  W.Width = Width;
  W.Height = Height;
  W.TextWidth = Width;
}

Windows::Windows() {
  Size(Box, 40, 8);
  Size(VolumeList, 21, 5);
  VolumeList.TextWidth = 16;
  Size(FileList, 21, 7);
  FileList.TextWidth = 16;
  Size(FileInfo, 77, 5);
  Size(Caller, 77, 7);
  MessageBox = &Box;
  VolumeListWindow = &VolumeList;
  FileListWindow = &FileList;
  FileInfoWindow = &FileInfo;
  CallerWindow = &Caller;
}

Windows::~Windows() {
  MessageBox = VolumeListWindow = FileListWindow = FileInfoWindow = CallerWindow = nullptr;
}

static UINTN Record(const char *Name, UI_WINDOW *W, CHAR16 *Text, UI_CELL_POSITION *P) {
  Call C{Name, W, Text, P->Column, P->Row, P->Attribute, 0};
  Calls.push_back(C);
  return C.Text.size();
}

}  // namespace entrytest

using entrytest::Call;
using entrytest::Calls;

UI_WINDOW *BackgroundWindow;
UI_WINDOW *VolumeListWindow;
UI_WINDOW *FileListWindow;
UI_WINDOW *FileInfoWindow;
UI_WINDOW *CallerWindow;
UI_WINDOW *MessageBox;

EFI_STATUS EFIAPI Run(UI_SCREEN_PROTOCOL *This, UI_RUN_PARAMETERS *Parameters) {
  if (Parameters == nullptr) return EFI_INVALID_PARAMETER;
  if (RunActive != 0) return EFI_ACCESS_DENIED;
  Calls.push_back(Call{"Run"});
  RunActive = 1;
  EFI_STATUS Status = entrytest::RunBody ? entrytest::RunBody(This, Parameters) : EFI_SUCCESS;
  RunActive = 0;
  return Status;
}

UINTN WindowWriteText(UI_WINDOW *Window, CHAR16 *Text, UI_CELL_POSITION *Position, BOOLEAN Wrap) {
  return entrytest::Record(Wrap ? "WriteTextWrap" : "WriteText", Window, Text, Position);
}

UINTN WindowWriteTextRight(UI_WINDOW *Window, CHAR16 *Text, UI_CELL_POSITION *Position) {
  return entrytest::Record("WriteTextRight", Window, Text, Position);
}

UINTN WindowWriteTextCentred(UI_WINDOW *Window, CHAR16 *Text, UI_CELL_POSITION *Position) {
  return entrytest::Record("WriteTextCentred", Window, Text, Position);
}

EFI_STATUS WindowSetPriority(UI_WINDOW *Window, UINT8 Priority) {
  Calls.push_back(Call{"SetPriority", Window, u"", 0, 0, 0, Priority});
  Window->Priority = Priority;
  return EFI_SUCCESS;
}

EFI_STATUS WindowClear(UI_WINDOW *Window, UINT64 *Attribute) {
  Calls.push_back(Call{"Clear", Window, u"", 0, 0, Attribute ? *Attribute : ~0ULL, 0});
  return Window ? EFI_SUCCESS : EFI_INVALID_PARAMETER;
}

EFI_STATUS WindowClearRow(UI_WINDOW *Window, UINTN Row, UINT64 *Attribute) {
  Calls.push_back(Call{"ClearRow", Window, u"", 0, Row, Attribute ? *Attribute : ~0ULL, 0});
  return Window && Row < Window->Height ? EFI_SUCCESS : EFI_INVALID_PARAMETER;
}

VOID ShadeMessageBoxArea(VOID) { Calls.push_back(Call{"Shade"}); }
VOID UnshadeMessageBoxArea(VOID) { Calls.push_back(Call{"Unshade"}); }

EFI_STATUS ShowMessageBox(BOOLEAN Show, UI_WINDOW *Window) {
  Calls.push_back(Call{Show ? "ShowBox" : "HideBox", Window});
  return EFI_SUCCESS;
}

VOID DrawProgressBarFrame(VOID) { Calls.push_back(Call{"DrawFrame"}); }
VOID DrawProgressStep(UINT8 Percent, UINT32 Style) { Calls.push_back(Call{"DrawStep", nullptr, u"", 0, 0, Style, Percent}); }
