// SPDX-License-Identifier: BSD-2-Clause-Patent
// The tool's own graphics console, used only when the platform has none: it
// keeps its own copy of the backdrop the UI hands it and shows it where the
// console shows black, and takes it away again when it is withdrawn.
#include "examples/flash_tool/demo.h"

static const EFI_GUID GraphicsConsoleGuid = {0xFBC9449A, 0x681C, 0x4517, {0xAB, 0x91, 0x09, 0x72, 0xAC, 0xDE, 0x77, 0xB4}};
static const EFI_GUID GopGuid = EFI_GRAPHICS_OUTPUT_PROTOCOL_GUID;

namespace {

// The table the UI calls functions 3 and 4 of, without an interface pointer.
struct GraphicsConsole {
  VOID *Function0;
  VOID *Function1;
  VOID *Function2;
  VOID(EFIAPI *SetBackdrop)(EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Buffer, UINTN X, UINTN Y, UINTN Width, UINTN Height);
  VOID(EFIAPI *ClearBackdrop)(UINTN X, UINTN Y, UINTN Width, UINTN Height);
};
static_assert(offsetof(GraphicsConsole, SetBackdrop) == 24, "function 3");
static_assert(offsetof(GraphicsConsole, ClearBackdrop) == 32, "function 4");

GraphicsConsole Console;
EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Kept;  // the backdrop shown now, our copy
UINTN KeptPixels;

EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop() { return (EFI_GRAPHICS_OUTPUT_PROTOCOL *)DemoLocate(GopGuid); }

// Shows the backdrop behind the text: only pixels that are console black
// now take the backdrop's colour, so cells already written stay visible.
VOID Merge(UINTN X, UINTN Y, UINTN Width, UINTN Height, BOOLEAN Show) {
  EFI_GRAPHICS_OUTPUT_PROTOCOL *gop = Gop();
  UINTN pixels = Width * Height;
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *screen = nullptr;
  if (gop == nullptr || Kept == nullptr || pixels != KeptPixels ||
      EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, pixels * sizeof *screen, (VOID **)&screen)))
    return;
  // Text output at a callback level must not land between the read and the
  // write back, or the write back would undo it.
  EFI_TPL old = gBS->RaiseTPL(TPL_NOTIFY);
  if (!EFI_ERROR(gop->Blt(gop, screen, EfiBltVideoToBltBuffer, X, Y, 0, 0, Width, Height, 0))) {
    for (UINTN i = 0; i < pixels; i++) {
      EFI_GRAPHICS_OUTPUT_BLT_PIXEL &p = screen[i];
      const EFI_GRAPHICS_OUTPUT_BLT_PIXEL &k = Kept[i];
      BOOLEAN black = p.Blue == 0 && p.Green == 0 && p.Red == 0;
      BOOLEAN backdrop = p.Blue == k.Blue && p.Green == k.Green && p.Red == k.Red;
      if (Show && black) p = k;
      if (!Show && backdrop) p = {0, 0, 0, 0};
    }
    gop->Blt(gop, screen, EfiBltBufferToVideo, 0, 0, X, Y, Width, Height, 0);
  }
  gBS->RestoreTPL(old);
  gBS->FreePool(screen);
}

VOID EFIAPI SetBackdrop(EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Buffer, UINTN X, UINTN Y, UINTN Width, UINTN Height) {
  UINTN pixels = 0, bytes = 0;
  if (Buffer == nullptr || __builtin_mul_overflow(Width, Height, &pixels) || __builtin_mul_overflow(pixels, sizeof *Buffer, &bytes) ||
      bytes == 0)
    return;
  if (Kept != nullptr) gBS->FreePool(Kept);
  Kept = nullptr;
  KeptPixels = 0;
  if (EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, bytes, (VOID **)&Kept))) return;
  gBS->CopyMem(Kept, Buffer, bytes);
  KeptPixels = pixels;
  Merge(X, Y, Width, Height, 1);
}

VOID EFIAPI ClearBackdrop(UINTN X, UINTN Y, UINTN Width, UINTN Height) {
  Merge(X, Y, Width, Height, 0);
  if (Kept != nullptr) gBS->FreePool(Kept);
  Kept = nullptr;
  KeptPixels = 0;
}

}  // namespace

EFI_STATUS DemoInstallOwnGraphicsConsole(VOID) {
  Console = {};
  Console.SetBackdrop = SetBackdrop;
  Console.ClearBackdrop = ClearBackdrop;
  EFI_HANDLE handle = nullptr;
  return gBS->InstallProtocolInterface(&handle, &GraphicsConsoleGuid, EFI_NATIVE_INTERFACE, &Console);
}
