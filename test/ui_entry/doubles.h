// Stand-ins for the run, the window text, the layout's shading, the message box
// and the progress drawing, which the protocol functions call. They record each
// call so the tests can check what the protocol asked of its neighbours.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "efi/efi.h"
#include "ui/screen.h"
#include "ui_screen.h"

namespace entrytest {

struct Call {
  std::string Name;
  UI_WINDOW *Window = nullptr;
  std::u16string Text;
  UINT64 Column = 0, Row = 0, Attribute = 0, Value = 0;
};

extern std::vector<Call> Calls;
std::vector<std::string> CallNames();

// What the stand-in Run does once it marked the run active.
extern std::function<EFI_STATUS(UI_SCREEN_PROTOCOL *, UI_RUN_PARAMETERS *)> RunBody;

// The windows of a run, with the layout's sizes in the 100 x 27 screen.
struct Windows {
  UI_WINDOW Box{}, VolumeList{}, FileList{}, FileInfo{}, Caller{};
  Windows();
  ~Windows();  // the window globals are null again afterwards
};

}  // namespace entrytest
