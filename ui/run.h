// One interactive screen run of the UI protocol, and what the run keeps of
// the caller's parameters for the key states, the browser and the pictures.
#pragma once
#include "efi/efi.h"
#include "ui_screen.h"
#include "ui/keys.h"

extern EFI_GUID gAdvancedGcProtocolGuid;          // {FBC9449A-681C-4517-AB91-0972ACDE77B4}
extern EFI_GUID gEfiGraphicsOutputProtocolGuid;   // {9042A9DE-23DC-4A38-96FB-7ADED080516A}
extern EFI_GUID gEfiSimplePointerProtocolGuid;    // {31878C87-0B75-11D5-9A4F-0090273FC14D}

// The graphics console located by gAdvancedGcProtocolGuid: a table of function
// pointers of which the engine calls the fourth and the fifth, without This.
typedef VOID(EFIAPI *ADVANCED_GC_SET_BACKDROP)(EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Buffer, UINTN X, UINTN Y, UINTN Width, UINTN Height);
typedef VOID(EFIAPI *ADVANCED_GC_CLEAR_BACKDROP)(UINTN X, UINTN Y, UINTN Width, UINTN Height);
typedef struct {
  VOID *Function0;
  VOID *Function1;
  VOID *Function2;
  ADVANCED_GC_SET_BACKDROP SetBackdrop;
  ADVANCED_GC_CLEAR_BACKDROP ClearBackdrop;
} ADVANCED_GC_PROTOCOL;
#ifdef __cplusplus
static_assert(offsetof(ADVANCED_GC_PROTOCOL, SetBackdrop) == 24, "graphics console function 3");
static_assert(offsetof(ADVANCED_GC_PROTOCOL, ClearBackdrop) == 32, "graphics console function 4");
#endif

// Located at the start of every run; null between runs.
extern ADVANCED_GC_PROTOCOL *GraphicsConsole;
extern EFI_GRAPHICS_OUTPUT_PROTOCOL *GraphicsOutput;

// The caller's parameters as the run copied them (hooks null where not given).
extern UI_FILE_ENTER_HOOK FileChosenEnterHook;
extern UI_KEY_HOOK FileChosenKeyHook;
extern UI_FILE_ENTER_HOOK FileFollowUpEnterHook;
extern UI_KEY_HOOK FileFollowUpKeyHook;
extern UI_ESCAPE_ENTER_HOOK EscapeEnterHook;
extern UI_KEY_HOOK EscapeKeyHook;
extern VOID *HookContext;
// The size rule (BiosFileUnitSize, BiosFileMaxSize) is copied into the browser's globals.

EFI_STATUS EFIAPI Run(UI_SCREEN_PROTOCOL *This, UI_RUN_PARAMETERS *Parameters);
