// SPDX-License-Identifier: BSD-2-Clause-Patent
// Fuzzes the browser with the directory records a file system hands back.
// Input: the unit and maximum sizes (8 bytes each, little endian), one byte
// whose low seven bits choose an allocation to fail (0: none) and whose top
// bit makes the directory endless (the last record comes again forever),
// then records, each a 16-bit little-endian length and that many bytes,
// returned by Read verbatim. Every listed record must satisfy the size rule,
// be no directory, carry a terminated name inside its buffer; every name must
// be drawn without a control character; and everything must be released.
// The platform, screen and volume are made once; each input refills the root.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "test/fake/fake.h"
#include "test/fake/fs.h"
#include "ui/browser.h"
#include "ui/status_report.h"
#include "ui/layout.h"
#include "ui/screen.h"

namespace {

uint64_t Le64(const uint8_t *p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; i--) v = v << 8 | p[i];
  return v;
}

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

// Every listed record obeys the caller's rule and can be drawn safely.
void CheckList() {
  Check((BiosFiles.BiosFileList == nullptr) == (BiosFiles.BiosFileCount == 0));
  Check(BiosFiles.BiosFileCount <= BIOS_DIRECTORY_MAX_ENTRIES);
  for (UINTN i = 0; i < BiosFiles.BiosFileCount; i++) {
    const EFI_FILE_INFO *f = BiosFiles.BiosFileList[i];
    Check(f != nullptr);
    Check((f->Attribute & EFI_FILE_DIRECTORY) == 0);
    Check(f->FileSize != 0 && f->FileSize % BiosFiles.BiosFileUnitSize == 0 && f->FileSize <= BiosFiles.BiosFileMaxSize);
    Check(f->Size <= BIOS_FILE_INFO_SIZE);
    bool terminated = false;
    for (UINTN c = 0; c < (BIOS_FILE_INFO_SIZE - SIZE_OF_EFI_FILE_INFO) / 2 && !terminated; c++) terminated = f->FileName[c] == 0;
    Check(terminated);
  }
}

// A drawn row holds no control character: names stay on their own row and
// send nothing but text to the console.
void CheckPrintable(UI_WINDOW *w, UINTN row) {
  for (UINTN c = 0; c < w->Width; c++) {
    const CHAR16 ch = w->CellChars[row * w->Width + c];
    Check(ch >= 0x20 && !(ch >= 0x7F && ch < 0xA0));
  }
}

struct Rig {
  fake::Platform plat;
  fake::FileSystem fs{plat};
  fake::Volume *volume = nullptr;
  size_t baseline = 0;

  Rig() {
    plat.SetTextModes({{80, 25}, {100, 31}});
    EfiInitializeDriverLib(nullptr, plat.SystemTable());
    Check(InitialDrawFunction() == EFI_SUCCESS);
    volume = &fs.AddVolume();
    fs.AllowOpenHandlesAtExit();
    baseline = plat.LivePoolCount();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static Rig *rig = new Rig;
  if (size < 17) return 0;
  fake::FsNode &root = rig->volume->Root();
  root.children.clear();
  size_t at = 17;
  for (int n = 0; n < 64 && at + 2 <= size; n++) {
    size_t len = data[at] | data[at + 1] << 8;
    at += 2;
    len = std::min(len, size - at);
    std::vector<uint8_t> rec(data + at, data + at + len);
    at += len;
    if (rec.empty()) rec.push_back(0);  // an empty raw record would mean "generate one"
    root.AddRaw(std::move(rec));
  }

  BiosFiles.VolumeHandles = nullptr;
  BiosFiles.VolumeCount = BrowserLists.VolumeSelection = BrowserLists.VolumeListTop = 0;
  BiosFiles.RootDirectory = nullptr;
  BiosFiles.BiosFileList = nullptr;
  BiosFiles.BiosFileCount = BrowserLists.FileSelection = BrowserLists.FileListTop = 0;
  BiosFiles.BiosFileUnitSize = Le64(data);
  BiosFiles.BiosFileMaxSize = Le64(data + 8);
  if (BiosFiles.BiosFileMaxSize == 0) BiosFiles.BiosFileMaxSize = ~0ULL;

  if (ShowVolumeList(0, &BrowserLists.VolumeSelection) == EFI_SUCCESS && BiosFiles.VolumeCount == 1) {
    rig->volume->EndlessDirectories(data[16] & 0x80);
    if (data[16] & 0x7F) rig->plat.FailAllocation(data[16] & 0x7F);
    OpenBiosVolume(BiosFiles.VolumeHandles[0]);
    rig->plat.FailAllocation(0);
    CheckList();
    for (UINTN sel = 0; sel <= BiosFiles.BiosFileCount && sel <= 66; sel++) {  // every row of a listing of records, not of an endless one
      UINTN s = sel;
      if (ShowFileList(static_cast<BOOLEAN>(sel & 1), &s) == EFI_SUCCESS) {
        Check(s < BiosFiles.BiosFileCount);
        for (UINTN r = 0; r < RunWindows.FileListWindow->Height; r++) CheckPrintable(RunWindows.FileListWindow, r);
      }
      if (ShowFileDate(&s) == EFI_SUCCESS && s < BiosFiles.BiosFileCount) {
        CheckPrintable(RunWindows.FileInfoWindow, 3);
        CheckPrintable(RunWindows.FileInfoWindow, 4);
      }
    }
  }
  ReleaseFileBrowser();
  Check(rig->fs.OpenHandles() == 0);
  Check(rig->plat.LivePoolCount() == rig->baseline);
  rig->fs.ForgetClosedHandles();
  return 0;
}
