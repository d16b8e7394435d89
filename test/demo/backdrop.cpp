// The tool's own graphics console, used only when the platform has none: it
// paints the backdrop the UI asks for onto the graphics output, keeping its
// own copy of the pixels, and paints the rectangle black when it is withdrawn.
#include "test/demo/demo.h"

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

EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop() { return (EFI_GRAPHICS_OUTPUT_PROTOCOL *)BedLocate(GopGuid); }

VOID EFIAPI SetBackdrop(EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Buffer, UINTN X, UINTN Y, UINTN Width, UINTN Height) {
  UINTN pixels = 0, bytes = 0;
  if (Buffer == nullptr || __builtin_mul_overflow(Width, Height, &pixels) ||
      __builtin_mul_overflow(pixels, sizeof *Buffer, &bytes) || bytes == 0)
    return;
  if (Kept != nullptr) gBS->FreePool(Kept);
  Kept = nullptr;
  if (EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, bytes, (VOID **)&Kept))) return;
  gBS->CopyMem(Kept, Buffer, bytes);
  KeptPixels = pixels;
  if (EFI_GRAPHICS_OUTPUT_PROTOCOL *gop = Gop()) gop->Blt(gop, Kept, EfiBltBufferToVideo, 0, 0, X, Y, Width, Height, 0);
}

VOID EFIAPI ClearBackdrop(UINTN X, UINTN Y, UINTN Width, UINTN Height) {
  if (Kept != nullptr) gBS->FreePool(Kept);
  Kept = nullptr;
  KeptPixels = 0;
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL black = {0, 0, 0, 0};
  if (EFI_GRAPHICS_OUTPUT_PROTOCOL *gop = Gop()) gop->Blt(gop, &black, EfiBltVideoFill, 0, 0, X, Y, Width, Height, 0);
}

}  // namespace

EFI_STATUS DemoInstallOwnGraphicsConsole(VOID) {
  Console = {};
  Console.SetBackdrop = SetBackdrop;
  Console.ClearBackdrop = ClearBackdrop;
  EFI_HANDLE handle = nullptr;
  return gBS->InstallProtocolInterface(&handle, &GraphicsConsoleGuid, EFI_NATIVE_INTERFACE, &Console);
}
