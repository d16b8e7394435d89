// Small stand-ins for the devices a run locates besides the console: a
// graphics output that records its Blt calls, the graphics console with its
// backdrop functions, and a Simple Pointer device whose activity a test can
// signal. One of each is current at a time.
#pragma once
#include <vector>

#include "efi/efi.h"
#include "test/fake/fake.h"
#include "ui/run.h"

namespace uitest {

struct BltCall {
  EFI_GRAPHICS_OUTPUT_BLT_OPERATION op;
  UINTN x, y, width, height;
};

class TestGop {
 public:
  TestGop();
  ~TestGop();
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Protocol() { return &proto_; }
  std::vector<BltCall> blts;

 private:
  static EFI_STATUS EFIAPI QueryMode(EFI_GRAPHICS_OUTPUT_PROTOCOL *, UINT32, UINTN *, EFI_GRAPHICS_OUTPUT_MODE_INFORMATION **);
  static EFI_STATUS EFIAPI SetMode(EFI_GRAPHICS_OUTPUT_PROTOCOL *, UINT32);
  static EFI_STATUS EFIAPI Blt(EFI_GRAPHICS_OUTPUT_PROTOCOL *, EFI_GRAPHICS_OUTPUT_BLT_PIXEL *, EFI_GRAPHICS_OUTPUT_BLT_OPERATION,
                               UINTN, UINTN, UINTN, UINTN, UINTN, UINTN, UINTN);
  EFI_GRAPHICS_OUTPUT_PROTOCOL proto_{};
  EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE mode_{};
  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION info_{};
};

struct BackdropCall {
  bool set;  // true: a backdrop was set, false: withdrawn
  UINTN x, y, width, height;
};

class TestGraphicsConsole {
 public:
  TestGraphicsConsole();
  ~TestGraphicsConsole();
  ADVANCED_GC_PROTOCOL *Protocol() { return &proto_; }
  std::vector<BackdropCall> calls;

 private:
  static VOID EFIAPI SetBackdrop(EFI_GRAPHICS_OUTPUT_BLT_PIXEL *, UINTN, UINTN, UINTN, UINTN);
  static VOID EFIAPI ClearBackdrop(UINTN, UINTN, UINTN, UINTN);
  ADVANCED_GC_PROTOCOL proto_{};
};

class TestPointer {
 public:
  explicit TestPointer(fake::Platform &p);
  ~TestPointer();
  EFI_SIMPLE_POINTER_PROTOCOL *Protocol() { return &proto_; }
  // Movement and a button press as the device reports them: its wait event
  // is signalled and GetState returns the change.
  void Move(INT32 dx, INT32 dy, bool button);
  uint64_t get_state_calls = 0;

 private:
  static EFI_STATUS EFIAPI Reset(EFI_SIMPLE_POINTER_PROTOCOL *, BOOLEAN);
  static EFI_STATUS EFIAPI GetState(EFI_SIMPLE_POINTER_PROTOCOL *, EFI_SIMPLE_POINTER_STATE *);
  static VOID EFIAPI WaitNotify(EFI_EVENT, VOID *);
  fake::Platform &p_;
  EFI_SIMPLE_POINTER_PROTOCOL proto_{};
  EFI_SIMPLE_POINTER_MODE mode_{};
  EFI_SIMPLE_POINTER_STATE pending_{};
  bool has_pending_ = false;
};

}  // namespace uitest
