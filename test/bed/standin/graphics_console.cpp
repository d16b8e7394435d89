// SPDX-License-Identifier: BSD-2-Clause-Patent
// Stand-in for the platform's graphics console protocol: function 3 puts a
// picture behind the console text of a rectangle (keeping its own copy),
// function 4 withdraws it. "Behind the text" is done by watching the graphics
// output: text drawn into a backdrop rectangle gets the backdrop's pixels
// wherever it would have shown its background colour, and a fill (a clear)
// there is followed by the backdrop again. Text already on the screen when a
// backdrop arrives stays in front of it: every drawing records which pixels
// are ink (not the block's background colour), and only the others give way.
// There is one screen: the console splitter's output forwards to the
// display's, so a backdrop is drawn once, through the first output.
#include "test/bed/standin/standin.h"

#define MAX_BACKDROPS 4
#define MAX_OUTPUTS 4

typedef EFI_STATUS(EFIAPI *BLT)(EFI_GRAPHICS_OUTPUT_PROTOCOL *This, EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Buffer,
                                EFI_GRAPHICS_OUTPUT_BLT_OPERATION Operation, UINTN SourceX, UINTN SourceY, UINTN DestinationX,
                                UINTN DestinationY, UINTN Width, UINTN Height, UINTN Delta);

struct Backdrop {
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Pixels;  // Width x Height, null when unused
  UINTN X, Y, Width, Height;
};

struct Output {
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop;
  BLT Blt;  // the firmware's own
};

// One bit per screen pixel: drawn in a colour other than its block's background.
static UINT8 *Ink;
static UINTN InkWidth, InkHeight;

static Backdrop Backdrops[MAX_BACKDROPS];
static Output Outputs[MAX_OUTPUTS];
static BED_GC_PROBE Probe;
static VOID *Protocol[5];

static Output *OutputOf(EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop) {
  for (Output &o : Outputs)
    if (o.Gop == Gop) return &o;
  return nullptr;
}

static BOOLEAN Intersects(const Backdrop &B, UINTN X, UINTN Y, UINTN W, UINTN H) {
  return B.Pixels && X < B.X + B.Width && B.X < X + W && Y < B.Y + B.Height && B.Y < Y + H;
}

// The backdrop pixel under screen pixel (X, Y), or null.
static EFI_GRAPHICS_OUTPUT_BLT_PIXEL *BackdropAt(UINTN X, UINTN Y) {
  for (Backdrop &b : Backdrops)
    if (b.Pixels && X >= b.X && X < b.X + b.Width && Y >= b.Y && Y < b.Y + b.Height) return &b.Pixels[(Y - b.Y) * b.Width + (X - b.X)];
  return nullptr;
}

// Draws the part of B that lies inside (X, Y, W, H).
static VOID Redraw(EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop, BLT Blt, const Backdrop &B, UINTN X, UINTN Y, UINTN W, UINTN H) {
  UINTN x0 = X > B.X ? X : B.X, y0 = Y > B.Y ? Y : B.Y;
  UINTN x1 = X + W < B.X + B.Width ? X + W : B.X + B.Width;
  UINTN y1 = Y + H < B.Y + B.Height ? Y + H : B.Y + B.Height;
  if (x0 >= x1 || y0 >= y1) return;
  Blt(Gop, B.Pixels, EfiBltBufferToVideo, x0 - B.X, y0 - B.Y, x0, y0, x1 - x0, y1 - y0, B.Width * sizeof(EFI_GRAPHICS_OUTPUT_BLT_PIXEL));
}

// The ink map for the screen's current mode: a new mode starts with none.
static BOOLEAN InkReady(EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop) {
  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION *info = Gop->Mode ? Gop->Mode->Info : nullptr;
  if (info == nullptr) return 0;
  UINTN w = info->HorizontalResolution, h = info->VerticalResolution;
  if (Ink && InkWidth == w && InkHeight == h) return 1;
  if (Ink) gBS->FreePool(Ink);
  Ink = nullptr;
  UINTN bits = 0;
  if (w == 0 || h == 0 || __builtin_mul_overflow(w, h, &bits)) return 0;
  if (EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, bits / 8 + 1, (VOID **)&Ink))) return 0;
  gBS->SetMem(Ink, bits / 8 + 1, 0);
  InkWidth = w, InkHeight = h;
  return 1;
}

static BOOLEAN InkAt(UINTN X, UINTN Y) {
  UINTN i = Y * InkWidth + X;
  return (Ink[i / 8] >> (i % 8)) & 1;
}

static VOID SetInk(UINTN X, UINTN Y, BOOLEAN On) {
  UINTN i = Y * InkWidth + X;
  if (On)
    Ink[i / 8] |= (UINT8)(1 << (i % 8));
  else
    Ink[i / 8] &= (UINT8) ~(1 << (i % 8));
}

static BOOLEAN SameColour(const EFI_GRAPHICS_OUTPUT_BLT_PIXEL &A, const EFI_GRAPHICS_OUTPUT_BLT_PIXEL &B) {
  return A.Blue == B.Blue && A.Green == B.Green && A.Red == B.Red;
}

// Records what a drawing leaves on the screen: a fill is all background; a
// block is ink wherever it differs from its first pixel (glyph cells are
// blank in their top-left corner); a copy on the screen moves the ink with it.
static VOID TrackInk(EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop, EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Buffer, EFI_GRAPHICS_OUTPUT_BLT_OPERATION Operation,
                     UINTN SourceX, UINTN SourceY, UINTN X, UINTN Y, UINTN Width, UINTN Height, UINTN Delta) {
  if (!InkReady(Gop) || X >= InkWidth || Y >= InkHeight) return;
  UINTN w = Width < InkWidth - X ? Width : InkWidth - X;
  UINTN h = Height < InkHeight - Y ? Height : InkHeight - Y;
  if (Operation == EfiBltVideoFill) {
    for (UINTN y = 0; y < h; y++)
      for (UINTN x = 0; x < w; x++) SetInk(X + x, Y + y, 0);
  } else if (Operation == EfiBltBufferToVideo && Buffer != nullptr) {
    UINTN stride = Delta ? Delta / sizeof(EFI_GRAPHICS_OUTPUT_BLT_PIXEL) : Width;
    const EFI_GRAPHICS_OUTPUT_BLT_PIXEL background = Buffer[SourceY * stride + SourceX];
    for (UINTN y = 0; y < h; y++)
      for (UINTN x = 0; x < w; x++) SetInk(X + x, Y + y, !SameColour(Buffer[(SourceY + y) * stride + SourceX + x], background));
  } else if (Operation == EfiBltVideoToVideo && SourceX < InkWidth && SourceY < InkHeight) {
    if (w > InkWidth - SourceX) w = InkWidth - SourceX;
    if (h > InkHeight - SourceY) h = InkHeight - SourceY;
    // In the order that reads every source pixel before it is overwritten.
    BOOLEAN down = Y > SourceY || (Y == SourceY && X > SourceX);
    for (UINTN i = 0; i < h; i++) {
      UINTN y = down ? h - 1 - i : i;
      for (UINTN j = 0; j < w; j++) {
        UINTN x = down ? w - 1 - j : j;
        SetInk(X + x, Y + y, InkAt(SourceX + x, SourceY + y));
      }
    }
  }
}

static EFI_STATUS EFIAPI WatchedBlt(EFI_GRAPHICS_OUTPUT_PROTOCOL *This, EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Buffer,
                                    EFI_GRAPHICS_OUTPUT_BLT_OPERATION Operation, UINTN SourceX, UINTN SourceY, UINTN DestinationX,
                                    UINTN DestinationY, UINTN Width, UINTN Height, UINTN Delta) {
  Output *output = OutputOf(This);
  if (output == nullptr) return EFI_DEVICE_ERROR;
  BLT blt = output->Blt;
  TrackInk(This, Buffer, Operation, SourceX, SourceY, DestinationX, DestinationY, Width, Height, Delta);
  BOOLEAN touches = 0;
  for (const Backdrop &b : Backdrops) touches |= Intersects(b, DestinationX, DestinationY, Width, Height);
  if (!touches || Buffer == nullptr || (Operation != EfiBltVideoFill && Operation != EfiBltBufferToVideo))
    return blt(This, Buffer, Operation, SourceX, SourceY, DestinationX, DestinationY, Width, Height, Delta);

  if (Operation == EfiBltVideoFill) {
    EFI_STATUS status = blt(This, Buffer, Operation, SourceX, SourceY, DestinationX, DestinationY, Width, Height, Delta);
    for (const Backdrop &b : Backdrops)
      if (Intersects(b, DestinationX, DestinationY, Width, Height)) Redraw(This, blt, b, DestinationX, DestinationY, Width, Height);
    return status;
  }

  // Text: the block's first pixel is its background colour (glyph cells are
  // blank in their top-left corner), and that colour gives way to the backdrop.
  UINTN stride = Delta ? Delta / sizeof(EFI_GRAPHICS_OUTPUT_BLT_PIXEL) : Width;
  UINTN pixels = 0, bytes = 0;
  if (__builtin_mul_overflow(Width, Height, &pixels) || __builtin_mul_overflow(pixels, sizeof(EFI_GRAPHICS_OUTPUT_BLT_PIXEL), &bytes))
    return EFI_INVALID_PARAMETER;
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *copy = nullptr;
  if (bytes == 0 || EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, bytes, (VOID **)&copy)))
    return blt(This, Buffer, Operation, SourceX, SourceY, DestinationX, DestinationY, Width, Height, Delta);
  const EFI_GRAPHICS_OUTPUT_BLT_PIXEL background = Buffer[SourceY * stride + SourceX];
  for (UINTN y = 0; y < Height; y++) {
    for (UINTN x = 0; x < Width; x++) {
      EFI_GRAPHICS_OUTPUT_BLT_PIXEL p = Buffer[(SourceY + y) * stride + SourceX + x];
      if (SameColour(p, background)) {
        if (EFI_GRAPHICS_OUTPUT_BLT_PIXEL *under = BackdropAt(DestinationX + x, DestinationY + y)) p = *under;
      }
      copy[y * Width + x] = p;
    }
  }
  EFI_STATUS status = blt(This, copy, EfiBltBufferToVideo, 0, 0, DestinationX, DestinationY, Width, Height, 0);
  gBS->FreePool(copy);
  return status;
}

// Shows a new backdrop under what the screen holds now: ink pixels stay.
static VOID DrawBehindInk(Output &O, const Backdrop &B) {
  if (!InkReady(O.Gop) || B.X >= InkWidth || B.Y >= InkHeight) {
    Redraw(O.Gop, O.Blt, B, B.X, B.Y, B.Width, B.Height);
    return;
  }
  UINTN w = B.Width < InkWidth - B.X ? B.Width : InkWidth - B.X;
  UINTN h = B.Height < InkHeight - B.Y ? B.Height : InkHeight - B.Y;
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *screen = nullptr;
  if (EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, w * h * sizeof *screen, (VOID **)&screen))) return;
  if (!EFI_ERROR(O.Blt(O.Gop, screen, EfiBltVideoToBltBuffer, B.X, B.Y, 0, 0, w, h, 0))) {
    for (UINTN y = 0; y < h; y++)
      for (UINTN x = 0; x < w; x++)
        if (!InkAt(B.X + x, B.Y + y)) screen[y * w + x] = B.Pixels[y * B.Width + x];
    O.Blt(O.Gop, screen, EfiBltBufferToVideo, 0, 0, B.X, B.Y, w, h, 0);
  }
  gBS->FreePool(screen);
}

static VOID PutBackdrop(EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Buffer, UINTN X, UINTN Y, UINTN Width, UINTN Height) {
  Probe.ShowCount++;
  Probe.LastX = X, Probe.LastY = Y, Probe.LastWidth = Width, Probe.LastHeight = Height;
  if (Buffer == nullptr || Width == 0 || Height == 0) return;
  Probe.LastPixel = *(UINT32 *)Buffer;
  UINTN pixels = 0, bytes = 0;
  if (__builtin_mul_overflow(Width, Height, &pixels) || __builtin_mul_overflow(pixels, sizeof *Buffer, &bytes)) return;
  // A new backdrop for the same rectangle replaces the old one.
  Backdrop *slot = nullptr;
  for (Backdrop &b : Backdrops) {
    if (b.Pixels && b.X == X && b.Y == Y && b.Width == Width && b.Height == Height) {
      gBS->FreePool(b.Pixels);
      b.Pixels = nullptr;
      Probe.Active--;
    }
    if (b.Pixels == nullptr && slot == nullptr) slot = &b;
  }
  if (slot == nullptr || EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, bytes, (VOID **)&slot->Pixels))) return;
  gBS->CopyMem(slot->Pixels, Buffer, bytes);
  slot->X = X, slot->Y = Y, slot->Width = Width, slot->Height = Height;
  Probe.Active++;
  if (Outputs[0].Gop) DrawBehindInk(Outputs[0], *slot);
}

static VOID TakeBackdrop(UINTN X, UINTN Y, UINTN Width, UINTN Height) {
  Probe.WithdrawCount++;
  for (Backdrop &b : Backdrops) {
    if (b.Pixels && b.X == X && b.Y == Y && b.Width == Width && b.Height == Height) {
      gBS->FreePool(b.Pixels);
      b.Pixels = nullptr;
      Probe.Active--;
    }
  }
}

// The console's repaint runs from a timer and draws through the watched
// output: the backdrops and the screen's read-modify-write must not change
// under it, so both functions work at the console's own TPL.
static VOID EFIAPI SetBackdrop(EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Buffer, UINTN X, UINTN Y, UINTN Width, UINTN Height) {
  EFI_TPL old = gBS->RaiseTPL(TPL_NOTIFY);
  PutBackdrop(Buffer, X, Y, Width, Height);
  gBS->RestoreTPL(old);
}

static VOID EFIAPI ClearBackdrop(UINTN X, UINTN Y, UINTN Width, UINTN Height) {
  EFI_TPL old = gBS->RaiseTPL(TPL_NOTIFY);
  TakeBackdrop(X, Y, Width, Height);
  gBS->RestoreTPL(old);
}

static EFI_STATUS EFIAPI Unknown(VOID) { return EFI_UNSUPPORTED; }

static const StandInInterface Interfaces[] = {
    {{0xFBC9449A, 0x681C, 0x4517, {0xAB, 0x91, 0x09, 0x72, 0xAC, 0xDE, 0x77, 0xB4}}, Protocol},
    {BED_GC_PROBE_GUID, &Probe},
};

static EFI_STATUS EFIAPI Unload(EFI_HANDLE ImageHandle) {
  EFI_STATUS status = StandInUninstall(ImageHandle, Interfaces, 2);
  if (EFI_ERROR(status)) return status;
  for (Output &o : Outputs) {
    if (o.Gop) o.Gop->Blt = o.Blt;
    o.Gop = nullptr;
  }
  if (Ink) gBS->FreePool(Ink);
  Ink = nullptr;
  for (Backdrop &b : Backdrops) {
    if (b.Pixels) gBS->FreePool(b.Pixels);
    b.Pixels = nullptr;
  }
  return EFI_SUCCESS;
}

// Watches every graphics output not yet watched.
static EFI_STATUS HookOutputs() {
  static const EFI_GUID gopGuid = EFI_GRAPHICS_OUTPUT_PROTOCOL_GUID;
  UINTN count = 0;
  EFI_HANDLE *handles = nullptr;
  EFI_STATUS status = gBS->LocateHandleBuffer(ByProtocol, &gopGuid, nullptr, &count, &handles);
  if (EFI_ERROR(status)) return status;
  for (UINTN i = 0; i < count; i++) {
    VOID *gop = nullptr;
    if (EFI_ERROR(gBS->HandleProtocol(handles[i], &gopGuid, &gop)) || OutputOf((EFI_GRAPHICS_OUTPUT_PROTOCOL *)gop) != nullptr) continue;
    for (Output &o : Outputs) {
      if (o.Gop) continue;
      o.Gop = (EFI_GRAPHICS_OUTPUT_PROTOCOL *)gop;
      o.Blt = o.Gop->Blt;
      o.Gop->Blt = WatchedBlt;
      break;
    }
  }
  gBS->FreePool(handles);
  return EFI_SUCCESS;
}

#ifdef BED_BOARD
// Dispatched from flash, before the boot manager connects the display:
// outputs are watched as they appear.
static VOID EFIAPI OutputAppeared(EFI_EVENT, VOID *) { HookOutputs(); }
#endif

extern "C" EFI_STATUS EFIAPI GraphicsConsoleStandInEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  gST = SystemTable;
  gBS = SystemTable->BootServices;
#ifdef BED_BOARD
  static const EFI_GUID gopGuid = EFI_GRAPHICS_OUTPUT_PROTOCOL_GUID;
  EFI_EVENT event = nullptr;
  VOID *registration = nullptr;
  EFI_STATUS status = gBS->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, OutputAppeared, nullptr, &event);
  if (!EFI_ERROR(status)) status = gBS->RegisterProtocolNotify(&gopGuid, event, &registration);
  if (EFI_ERROR(status)) return status;
  HookOutputs();
#else
  EFI_STATUS status = HookOutputs();
  if (EFI_ERROR(status)) return status;
#endif
  Protocol[0] = Protocol[1] = Protocol[2] = (VOID *)Unknown;
  Protocol[3] = (VOID *)SetBackdrop;
  Protocol[4] = (VOID *)ClearBackdrop;
  status = StandInStart(ImageHandle, SystemTable, Interfaces, 2, Unload);
  if (EFI_ERROR(status)) {
    for (Output &o : Outputs)
      if (o.Gop) o.Gop->Blt = o.Blt;
  }
  return status;
}
