// SPDX-License-Identifier: BSD-2-Clause-Patent
// The graphics console, a DXE driver: it lets a tool show a picture behind
// the text of a screen rectangle (function 3) and withdraw it (function 4),
// over any Graphics Output. It watches each output's Blt: text drawn into a
// backdrop's rectangle shows the backdrop wherever it would show its
// background colour, and a fill there is followed by the backdrop again.
// Text already on the screen when a backdrop arrives stays in front of it:
// every drawing records which pixels are ink (not its block's background
// colour), and only the others give way. The console draws a glyph cell as
// one block whose top-left pixel is background, which is how a block's
// background colour is known.
#include "adapters/start.h"
#include "efi/efi.h"
#include "efi/graphics_console.h"

const EFI_GUID gAdvancedGcProtocolGuid = ADVANCED_GC_PROTOCOL_GUID;
const EFI_GUID gEfiGraphicsOutputProtocolGuid = EFI_GRAPHICS_OUTPUT_PROTOCOL_GUID;
const EFI_GUID gEfiLoadedImageProtocolGuid = EFI_LOADED_IMAGE_PROTOCOL_GUID;

namespace {

constexpr UINTN MAX_BACKDROPS = 4;
constexpr UINTN MAX_OUTPUTS = 4;

typedef EFI_STATUS(EFIAPI *GOP_BLT)(EFI_GRAPHICS_OUTPUT_PROTOCOL *This, EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Buffer,
                                    EFI_GRAPHICS_OUTPUT_BLT_OPERATION Operation, UINTN SourceX, UINTN SourceY, UINTN DestinationX,
                                    UINTN DestinationY, UINTN Width, UINTN Height, UINTN Delta);

struct BACKDROP {
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Pixels;  // Width x Height, null when the slot is free
  UINTN X, Y, Width, Height;
};

struct OUTPUT {
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop;
  GOP_BLT Blt;  // the output's own
};

// A rectangle cut to the screen; empty when nothing of it is on the screen.
struct AREA {
  UINTN X0, Y0, X1, Y1;
  bool Empty() const { return X0 >= X1 || Y0 >= Y1; }
};

BACKDROP Backdrops[MAX_BACKDROPS];
OUTPUT Outputs[MAX_OUTPUTS];
// One bit per screen pixel: drawn in another colour than its block's background.
UINT8 *Ink;
UINTN ScreenWidth, ScreenHeight;
EFI_EVENT OutputEvent;
VOID *OutputRegistration;
VOID *Functions[5];

// The rectangle cut to Right and Bottom.
AREA Cut(UINTN X, UINTN Y, UINTN Width, UINTN Height, UINTN Right, UINTN Bottom) {
  AREA a = {X, Y, Right, Bottom};
  if (Width < Right - X && X < Right) a.X1 = X + Width;
  if (Height < Bottom - Y && Y < Bottom) a.Y1 = Y + Height;
  return a;
}

// The part of a rectangle that lies in backdrop B and on the screen.
AREA Overlap(const BACKDROP &B, UINTN X, UINTN Y, UINTN Width, UINTN Height) {
  if (B.Pixels == nullptr) return {0, 0, 0, 0};
  AREA a = Cut(X, Y, Width, Height, ScreenWidth, ScreenHeight);
  AREA b = Cut(B.X, B.Y, B.Width, B.Height, ScreenWidth, ScreenHeight);
  return {a.X0 > b.X0 ? a.X0 : b.X0, a.Y0 > b.Y0 ? a.Y0 : b.Y0, a.X1 < b.X1 ? a.X1 : b.X1, a.Y1 < b.Y1 ? a.Y1 : b.Y1};
}

OUTPUT *OutputOf(EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop) {
  for (OUTPUT &o : Outputs)
    if (o.Gop != nullptr && o.Gop == Gop) return &o;
  return nullptr;
}

VOID FreeBackdrop(BACKDROP &B) {
  if (B.Pixels != nullptr) gBS->FreePool(B.Pixels);
  B = {};
}

// The ink map and the backdrops belong to one screen mode: a new mode starts
// with neither.
bool ScreenReady(EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop) {
  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION *Info = Gop->Mode != nullptr ? Gop->Mode->Info : nullptr;
  if (Info == nullptr) return false;
  UINTN w = Info->HorizontalResolution, h = Info->VerticalResolution;
  if (Ink != nullptr && ScreenWidth == w && ScreenHeight == h) return true;
  if (Ink != nullptr) gBS->FreePool(Ink);
  for (BACKDROP &b : Backdrops) FreeBackdrop(b);
  Ink = nullptr;
  ScreenWidth = ScreenHeight = 0;
  UINTN Bits = 0;
  if (w == 0 || h == 0 || __builtin_mul_overflow(w, h, &Bits)) return false;
  if (EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, Bits / 8 + 1, (VOID **)&Ink))) {
    Ink = nullptr;
    return false;
  }
  gBS->SetMem(Ink, Bits / 8 + 1, 0);
  ScreenWidth = w, ScreenHeight = h;
  return true;
}

bool InkAt(UINTN X, UINTN Y) {
  UINTN i = Y * ScreenWidth + X;
  return (Ink[i / 8] >> (i % 8)) & 1;
}

VOID SetInk(UINTN X, UINTN Y, bool On) {
  UINTN i = Y * ScreenWidth + X;
  if (On)
    Ink[i / 8] |= (UINT8)(1 << (i % 8));
  else
    Ink[i / 8] &= (UINT8) ~(1 << (i % 8));
}

bool SameColour(const EFI_GRAPHICS_OUTPUT_BLT_PIXEL &A, const EFI_GRAPHICS_OUTPUT_BLT_PIXEL &B) {
  return A.Blue == B.Blue && A.Green == B.Green && A.Red == B.Red;
}

// The backdrop pixel under screen pixel (X, Y), or null.
const EFI_GRAPHICS_OUTPUT_BLT_PIXEL *BackdropAt(UINTN X, UINTN Y) {
  for (const BACKDROP &b : Backdrops)
    if (b.Pixels != nullptr && X >= b.X && X - b.X < b.Width && Y >= b.Y && Y - b.Y < b.Height)
      return &b.Pixels[(Y - b.Y) * b.Width + (X - b.X)];
  return nullptr;
}

// Draws the part of B inside the area, through the output's own Blt.
VOID Redraw(const OUTPUT &O, const BACKDROP &B, const AREA &A) {
  if (A.Empty()) return;
  O.Blt(O.Gop, B.Pixels, EfiBltBufferToVideo, A.X0 - B.X, A.Y0 - B.Y, A.X0, A.Y0, A.X1 - A.X0, A.Y1 - A.Y0,
        B.Width * sizeof(EFI_GRAPHICS_OUTPUT_BLT_PIXEL));
}

// Records what a drawing leaves on the screen: a fill is all background, a
// block is ink wherever it differs from its first pixel, and a copy on the
// screen moves the ink with it. Buffer is the caller's, read within Delta.
VOID TrackInk(EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Buffer, EFI_GRAPHICS_OUTPUT_BLT_OPERATION Operation, UINTN SourceX, UINTN SourceY, UINTN X,
              UINTN Y, UINTN Width, UINTN Height, UINTN Delta) {
  AREA a = Cut(X, Y, Width, Height, ScreenWidth, ScreenHeight);
  if (a.Empty()) return;
  UINTN w = a.X1 - a.X0, h = a.Y1 - a.Y0;
  if (Operation == EfiBltVideoFill) {
    for (UINTN y = 0; y < h; y++)
      for (UINTN x = 0; x < w; x++) SetInk(X + x, Y + y, false);
  } else if (Operation == EfiBltBufferToVideo && Buffer != nullptr) {
    UINTN Stride = Delta != 0 ? Delta / sizeof(EFI_GRAPHICS_OUTPUT_BLT_PIXEL) : Width;
    const EFI_GRAPHICS_OUTPUT_BLT_PIXEL Background = Buffer[SourceY * Stride + SourceX];
    for (UINTN y = 0; y < h; y++)
      for (UINTN x = 0; x < w; x++) SetInk(X + x, Y + y, !SameColour(Buffer[(SourceY + y) * Stride + SourceX + x], Background));
  } else if (Operation == EfiBltVideoToVideo && SourceX < ScreenWidth && SourceY < ScreenHeight) {
    if (w > ScreenWidth - SourceX) w = ScreenWidth - SourceX;
    if (h > ScreenHeight - SourceY) h = ScreenHeight - SourceY;
    // In the order that reads every source pixel before it is overwritten.
    bool Down = Y > SourceY || (Y == SourceY && X > SourceX);
    for (UINTN i = 0; i < h; i++) {
      UINTN y = Down ? h - 1 - i : i;
      for (UINTN j = 0; j < w; j++) {
        UINTN x = Down ? w - 1 - j : j;
        SetInk(X + x, Y + y, InkAt(SourceX + x, SourceY + y));
      }
    }
  }
}

// A block drawn into a backdrop: its background-coloured pixels take the
// backdrop's, in a copy, so the caller's buffer is left as it was.
EFI_STATUS DrawOverBackdrop(const OUTPUT &O, EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Buffer, UINTN SourceX, UINTN SourceY, UINTN X, UINTN Y,
                            UINTN Width, UINTN Height, UINTN Delta) {
  UINTN Pixels = 0, Bytes = 0;
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Copy = nullptr;
  if (__builtin_mul_overflow(Width, Height, &Pixels) || __builtin_mul_overflow(Pixels, sizeof *Copy, &Bytes) || Bytes == 0 ||
      EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, Bytes, (VOID **)&Copy)))
    return O.Blt(O.Gop, Buffer, EfiBltBufferToVideo, SourceX, SourceY, X, Y, Width, Height, Delta);
  UINTN Stride = Delta != 0 ? Delta / sizeof(EFI_GRAPHICS_OUTPUT_BLT_PIXEL) : Width;
  const EFI_GRAPHICS_OUTPUT_BLT_PIXEL Background = Buffer[SourceY * Stride + SourceX];
  for (UINTN y = 0; y < Height; y++) {
    for (UINTN x = 0; x < Width; x++) {
      EFI_GRAPHICS_OUTPUT_BLT_PIXEL p = Buffer[(SourceY + y) * Stride + SourceX + x];
      if (SameColour(p, Background)) {
        if (const EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Under = BackdropAt(X + x, Y + y)) p = *Under;
      }
      Copy[y * Width + x] = p;
    }
  }
  EFI_STATUS Status = O.Blt(O.Gop, Copy, EfiBltBufferToVideo, 0, 0, X, Y, Width, Height, 0);
  gBS->FreePool(Copy);
  return Status;
}

// Every Blt of a watched output. The console's repaint may come from a
// timer: the backdrops and the ink map change only at TPL_NOTIFY.
EFI_STATUS EFIAPI WatchedBlt(EFI_GRAPHICS_OUTPUT_PROTOCOL *This, EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Buffer,
                             EFI_GRAPHICS_OUTPUT_BLT_OPERATION Operation, UINTN SourceX, UINTN SourceY, UINTN DestinationX,
                             UINTN DestinationY, UINTN Width, UINTN Height, UINTN Delta) {
  OUTPUT *Output = OutputOf(This);
  if (Output == nullptr) return EFI_DEVICE_ERROR;
  EFI_TPL Old = gBS->RaiseTPL(TPL_NOTIFY);
  bool Ready = ScreenReady(This);
  // Only a drawing the output itself would take is looked into: the caller's
  // buffer is read only after the output has accepted the rectangle's shape.
  bool Valid = Width != 0 && Height != 0 && DestinationX < ScreenWidth && Width <= ScreenWidth - DestinationX &&
               DestinationY < ScreenHeight && Height <= ScreenHeight - DestinationY;
  if (Operation == EfiBltVideoFill) Valid = Valid && Buffer != nullptr;
  if (Operation == EfiBltBufferToVideo) Valid = Valid && Buffer != nullptr && (Delta == 0 || Delta / sizeof *Buffer >= Width);
  bool Touches = false;
  for (const BACKDROP &b : Backdrops) Touches |= !Overlap(b, DestinationX, DestinationY, Width, Height).Empty();
  EFI_STATUS Status;
  if (Ready && Valid && Touches && Operation == EfiBltBufferToVideo) {
    Status = DrawOverBackdrop(*Output, Buffer, SourceX, SourceY, DestinationX, DestinationY, Width, Height, Delta);
  } else {
    Status = Output->Blt(This, Buffer, Operation, SourceX, SourceY, DestinationX, DestinationY, Width, Height, Delta);
    if (Ready && Valid && Touches && Operation == EfiBltVideoFill && !EFI_ERROR(Status))
      for (const BACKDROP &b : Backdrops) Redraw(*Output, b, Overlap(b, DestinationX, DestinationY, Width, Height));
  }
  if (Ready && Valid && !EFI_ERROR(Status)) TrackInk(Buffer, Operation, SourceX, SourceY, DestinationX, DestinationY, Width, Height, Delta);
  gBS->RestoreTPL(Old);
  return Status;
}

// Shows a new backdrop under what the screen holds now: ink pixels stay.
VOID DrawBehindInk(const OUTPUT &O, const BACKDROP &B) {
  AREA a = Overlap(B, B.X, B.Y, B.Width, B.Height);
  if (a.Empty()) return;
  UINTN w = a.X1 - a.X0, h = a.Y1 - a.Y0;
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Screen = nullptr;
  if (EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, w * h * sizeof *Screen, (VOID **)&Screen))) {
    Redraw(O, B, a);
    return;
  }
  if (!EFI_ERROR(O.Blt(O.Gop, Screen, EfiBltVideoToBltBuffer, a.X0, a.Y0, 0, 0, w, h, 0))) {
    for (UINTN y = 0; y < h; y++)
      for (UINTN x = 0; x < w; x++)
        if (!InkAt(a.X0 + x, a.Y0 + y)) Screen[y * w + x] = B.Pixels[(a.Y0 - B.Y + y) * B.Width + (a.X0 - B.X + x)];
    O.Blt(O.Gop, Screen, EfiBltBufferToVideo, 0, 0, a.X0, a.Y0, w, h, 0);
  }
  gBS->FreePool(Screen);
}

// Function 3: keeps a copy of Buffer as the backdrop of the rectangle and
// shows it; a new backdrop for the same rectangle replaces the old one.
VOID EFIAPI SetBackdrop(EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Buffer, UINTN X, UINTN Y, UINTN Width, UINTN Height) {
  UINTN Pixels = 0, Bytes = 0;
  if (Buffer == nullptr || Width == 0 || Height == 0 || __builtin_mul_overflow(Width, Height, &Pixels) ||
      __builtin_mul_overflow(Pixels, sizeof *Buffer, &Bytes))
    return;
  EFI_TPL Old = gBS->RaiseTPL(TPL_NOTIFY);
  BACKDROP *Slot = nullptr;
  for (BACKDROP &b : Backdrops) {
    if (b.Pixels != nullptr && b.X == X && b.Y == Y && b.Width == Width && b.Height == Height) FreeBackdrop(b);
    if (b.Pixels == nullptr && Slot == nullptr) Slot = &b;
  }
  if (Slot != nullptr && Outputs[0].Gop != nullptr && ScreenReady(Outputs[0].Gop) &&
      !EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, Bytes, (VOID **)&Slot->Pixels))) {
    gBS->CopyMem(Slot->Pixels, Buffer, Bytes);
    Slot->X = X, Slot->Y = Y, Slot->Width = Width, Slot->Height = Height;
    DrawBehindInk(Outputs[0], *Slot);
  }
  gBS->RestoreTPL(Old);
}

// Function 4: withdraws the backdrop of the rectangle. What it showed stays
// until the console draws there again.
VOID EFIAPI ClearBackdrop(UINTN X, UINTN Y, UINTN Width, UINTN Height) {
  EFI_TPL Old = gBS->RaiseTPL(TPL_NOTIFY);
  for (BACKDROP &b : Backdrops)
    if (b.Pixels != nullptr && b.X == X && b.Y == Y && b.Width == Width && b.Height == Height) FreeBackdrop(b);
  gBS->RestoreTPL(Old);
}

EFI_STATUS EFIAPI NotOffered(VOID) { return EFI_UNSUPPORTED; }

// Whether Gop is still installed: an output that is gone may have been freed.
bool Installed(EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop) {
  UINTN Count = 0;
  EFI_HANDLE *Handles = nullptr;
  if (EFI_ERROR(gBS->LocateHandleBuffer(ByProtocol, &gEfiGraphicsOutputProtocolGuid, nullptr, &Count, &Handles))) return false;
  bool Found = false;
  for (UINTN i = 0; i < Count && !Found; i++) {
    VOID *Interface = nullptr;
    Found = !EFI_ERROR(gBS->HandleProtocol(Handles[i], &gEfiGraphicsOutputProtocolGuid, &Interface)) && Interface == Gop;
  }
  gBS->FreePool(Handles);
  return Found;
}

// Forgets the outputs that are gone, then watches every output not yet watched.
VOID WatchOutputs(VOID) {
  for (OUTPUT &o : Outputs)
    if (o.Gop != nullptr && !Installed(o.Gop)) o = {};
  UINTN Count = 0;
  EFI_HANDLE *Handles = nullptr;
  if (EFI_ERROR(gBS->LocateHandleBuffer(ByProtocol, &gEfiGraphicsOutputProtocolGuid, nullptr, &Count, &Handles))) return;
  for (UINTN i = 0; i < Count; i++) {
    VOID *Gop = nullptr;
    if (EFI_ERROR(gBS->HandleProtocol(Handles[i], &gEfiGraphicsOutputProtocolGuid, &Gop)) || Gop == nullptr ||
        OutputOf((EFI_GRAPHICS_OUTPUT_PROTOCOL *)Gop) != nullptr)
      continue;
    for (OUTPUT &o : Outputs) {
      if (o.Gop != nullptr) continue;
      o.Gop = (EFI_GRAPHICS_OUTPUT_PROTOCOL *)Gop;
      o.Blt = (GOP_BLT)o.Gop->Blt;
      o.Gop->Blt = WatchedBlt;
      break;
    }
  }
  gBS->FreePool(Handles);
}

// Outputs appear as the boot manager connects the displays.
VOID EFIAPI OutputAppeared(EFI_EVENT, VOID *) { WatchOutputs(); }

// Gives every output that is still there its own Blt back; refuses when
// another module has wrapped one since, as its wrapper would then call a
// function that is gone.
EFI_STATUS Unwatch(VOID) {
  for (OUTPUT &o : Outputs)
    if (o.Gop != nullptr && !Installed(o.Gop)) o = {};
  for (const OUTPUT &o : Outputs)
    if (o.Gop != nullptr && o.Gop->Blt != WatchedBlt) return EFI_ACCESS_DENIED;
  for (OUTPUT &o : Outputs) {
    if (o.Gop != nullptr) o.Gop->Blt = o.Blt;
    o = {};
  }
  return EFI_SUCCESS;
}

VOID ReleaseAll(VOID) {
  if (OutputEvent != nullptr) gBS->CloseEvent(OutputEvent);
  OutputEvent = nullptr;
  OutputRegistration = nullptr;
  for (BACKDROP &b : Backdrops) FreeBackdrop(b);
  if (Ink != nullptr) gBS->FreePool(Ink);
  Ink = nullptr;
  ScreenWidth = ScreenHeight = 0;
}

EFI_STATUS EFIAPI Unload(EFI_HANDLE ImageHandle) {
  EFI_STATUS Status = Unwatch();
  if (!EFI_ERROR(Status)) Status = gBS->UninstallProtocolInterface(ImageHandle, &gAdvancedGcProtocolGuid, Functions);
  if (!EFI_ERROR(Status)) ReleaseAll();
  return Status;
}

}  // namespace

EFI_EXTERN_C EFI_STATUS EFIAPI AdvancedGcDxeEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  if (EFI_STATUS Kept = AdapterKeepTables(ImageHandle, SystemTable); EFI_ERROR(Kept)) return Kept;
  Functions[0] = Functions[1] = Functions[2] = (VOID *)NotOffered;
  Functions[3] = (VOID *)SetBackdrop;
  Functions[4] = (VOID *)ClearBackdrop;

  EFI_LOADED_IMAGE_PROTOCOL *Image = nullptr;
  EFI_STATUS Status = gBS->HandleProtocol(ImageHandle, &gEfiLoadedImageProtocolGuid, (VOID **)&Image);
  if (!EFI_ERROR(Status) && Image == nullptr) Status = EFI_NOT_FOUND;
  if (!EFI_ERROR(Status)) Status = gBS->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, OutputAppeared, nullptr, &OutputEvent);
  if (!EFI_ERROR(Status)) Status = gBS->RegisterProtocolNotify(&gEfiGraphicsOutputProtocolGuid, OutputEvent, &OutputRegistration);
  if (!EFI_ERROR(Status)) {
    WatchOutputs();
    Status = gBS->InstallProtocolInterface(&gImageHandle, &gAdvancedGcProtocolGuid, EFI_NATIVE_INTERFACE, Functions);
  }
  if (EFI_ERROR(Status)) {
    Unwatch();  // nobody has wrapped an output in between
    ReleaseAll();
    return Status;
  }
  // Loaded from a disk by a tool, it can be unloaded again when the tool is done.
  Image->Unload = Unload;
  return EFI_SUCCESS;
}
