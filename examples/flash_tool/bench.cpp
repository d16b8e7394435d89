// SPDX-License-Identifier: BSD-2-Clause-Patent
// Firmware figures for the bench report: how long Run takes to put its first
// full screen on the console, and what the console is asked to write for each
// key. The console's OutputString and ReadKeyStroke are wrapped for the run;
// the run has no clock, so nothing but keys makes it write.
#include "examples/flash_tool/demo.h"

namespace {

typedef EFI_STATUS(EFIAPI *OUTPUT_STRING)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, CHAR16 *String);
typedef EFI_STATUS(EFIAPI *READ_KEY)(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *This, EFI_INPUT_KEY *Key);

OUTPUT_STRING RealOutputString;
READ_KEY RealReadKey;

// Since the last key read (or since Run was called).
volatile UINT64 Characters, Calls, LastWrite;
UINT64 Since;      // time stamp of that key, or of the call of Run
BOOLEAN Reported;  // the quiet after the last key was reported
UINT64 TicksPerMs = 1;
UINT32 LastScan, LastChar;
BOOLEAN FirstScreen = 1;

// Quiet: nothing written for this long after the last write.
#define QUIET_MS 300
#define GIVE_UP_MS 5000

UINT64 Ticks() { return DemoTicks(); }

EFI_STATUS EFIAPI CountingOutputString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, CHAR16 *Text) {
  UINT64 n = 0;
  for (const CHAR16 *p = Text; p != nullptr && *p; p++) n++;
  Characters = Characters + n;
  Calls = Calls + 1;
  LastWrite = Ticks();
  return RealOutputString(This, Text);
}

EFI_STATUS EFIAPI CountingReadKey(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *This, EFI_INPUT_KEY *Key) {
  EFI_STATUS status = RealReadKey(This, Key);
  if (!EFI_ERROR(status)) {
    Characters = 0;
    Calls = 0;
    LastWrite = 0;
    Since = Ticks();
    Reported = 0;
    LastScan = Key->ScanCode;
    LastChar = Key->UnicodeChar;
  }
  return status;
}

// Polled while the run waits; it never signals the run's event, so the run
// never repaints on its account.
VOID EFIAPI QuietPoll(EFI_EVENT, VOID *) {
  UINT64 last = LastWrite;
  UINT64 now = Ticks();
  if (Reported) return;
  // A key that writes nothing is quiet from the start; a console that never
  // goes quiet is reported too, after a while, so the figures show it
  // instead of the bench waiting for ever.
  BOOLEAN quiet = (now - (last ? last : Since)) / TicksPerMs >= QUIET_MS;
  if (!quiet && (now - Since) / TicksPerMs < GIVE_UP_MS) return;
  Reported = 1;
  UINT64 us = last ? (last - Since) * 1000 / TicksPerMs : 0;
  if (FirstScreen) {
    DemoPrint("@bench first-screen us %u chars %u calls %u quiet %u\n", (UINT32)us, (UINT32)Characters, (UINT32)Calls, (UINT32)quiet);
    FirstScreen = 0;
  } else {
    DemoPrint("@bench key scan %x char %x chars %u calls %u us %u quiet %u\n", LastScan, LastChar, (UINT32)Characters, (UINT32)Calls,
             (UINT32)us, (UINT32)quiet);
  }
  DemoPrint("@demo quiet\n");
}

EFI_STATUS EFIAPI NeverSignalled(VOID *) { return EFI_SUCCESS; }

EFI_STATUS EFIAPI LeaveOnEnter(EFI_INPUT_KEY *Key, KEY_STATE *) {
  if (Key->UnicodeChar == CHAR_CARRIAGE_RETURN) return EFI_END_OF_MEDIA;
  return Key->ScanCode == SCAN_ESC ? EFI_NOT_READY : EFI_UNSUPPORTED;
}

}  // namespace

EFI_STATUS DemoRunBench(UI_SCREEN_PROTOCOL *Ui) {
  TicksPerMs = DemoTicksPerMillisecond();

  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *out = gST->ConOut;
  EFI_SIMPLE_TEXT_INPUT_PROTOCOL *in = gST->ConIn;
  RealOutputString = out->OutputString;
  RealReadKey = in->ReadKeyStroke;
  out->OutputString = CountingOutputString;
  in->ReadKeyStroke = CountingReadKey;

  UI_RUN_PARAMETERS run = {};
  run.BiosFileUnitSize = 0x10000;
  run.BiosFileMaxSize = 32ULL * 1024 * 1024;
  run.EventNotify = QuietPoll;
  run.EventHook = NeverSignalled;
  run.EscapeKeyHook = LeaveOnEnter;
  Characters = 0;
  Calls = 0;
  LastWrite = 0;
  Reported = 0;
  FirstScreen = 1;
  DemoPrint("@demo run\n");
  Since = Ticks();
  EFI_STATUS status = Ui->Run(Ui, &run);

  out->OutputString = RealOutputString;
  in->ReadKeyStroke = RealReadKey;
  DemoPrint("@demo ended %r\n", status);
  return status;
}
