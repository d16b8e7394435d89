// The UI engine's protocol and the records its outside callers pass in. Firmware
// modules written in C include this header as well, so it stays plain C (and
// C++). It goes after the platform's own UEFI headers (gnu-efi's efi.h, EDK II's
// Uefi.h or PiDxe.h), whose types it uses; a caller without any defines
// UI_SCREEN_STANDALONE first and gets the minimal headers of include/efi/.
// See docs/ui-protocol.md for the caller's guide.
#ifndef UI_SCREEN_PROTOCOL_H_INCLUDED
#define UI_SCREEN_PROTOCOL_H_INCLUDED

// Which UEFI headers came first: gnu-efi's, EDK II's or ours. A caller with
// another set defines UI_SCREEN_PLATFORM_EFI before including this header.
#if !defined(UI_SCREEN_PLATFORM_EFI) && (defined(_EFI_INCLUDE_) || defined(__UEFI_SPEC_H__) || defined(BOARD_EFI_HEADERS))
#define UI_SCREEN_PLATFORM_EFI 1
#endif
#if !defined(UI_SCREEN_PLATFORM_EFI) && !defined(UI_SCREEN_STANDALONE)
// One message instead of a screenful about unknown types.
#error "include <efi.h> (gnu-efi) or <Uefi.h> (EDK II) before ui_screen.h, or define UI_SCREEN_STANDALONE"
#else
#ifndef UI_SCREEN_PLATFORM_EFI
#include "efi/efi.h"
#endif
// EDK II keeps the file protocol and the file information record in headers of their own.
#if defined(__UEFI_SPEC_H__) && !defined(_EFI_INCLUDE_)
#include <Guid/FileInfo.h>
#include <Protocol/SimpleFileSystem.h>
#endif

// Every function of the protocol, and every function a caller hands to it,
// uses the UEFI (Microsoft x64) calling convention whatever the platform
// headers' EFIAPI says: gnu-efi leaves EFIAPI empty unless GNU_EFI_USE_MS_ABI
// is set, EDK II's headers leave it to the build's command line, and on a
// Windows target it is native. Mark your hooks and your EventNotify with it;
// a function in the System V convention then fails to compile instead of
// being called wrongly.
#if defined(__x86_64__) && !defined(_WIN32) && (defined(__GNUC__) || defined(__clang__))
#define UI_SCREEN_EFIAPI __attribute__((ms_abi))
#else
#define UI_SCREEN_EFIAPI
#endif

#ifdef __cplusplus
#define UI_SCREEN_EXTERN_C extern "C"
#else
#define UI_SCREEN_EXTERN_C extern
#endif

// clang-format off
#define UI_SCREEN_PROTOCOL_GUID {0xC1CBD7B3, 0xFBE8, 0x4CFB, {0xAD, 0x31, 0x29, 0x74, 0xD0, 0x5F, 0xC4, 0x3B}}
// clang-format on
#define UI_SCREEN_PROTOCOL_REVISION 403

// The protocol's GUID object. The header only declares it; one source file
// of the caller defines it by defining UI_SCREEN_DEFINE_GUID before including
// this header (an EDK II module lists it in its INF instead, and AutoGen
// defines it). It is constant only beside our own headers, whose services
// take constant GUIDs; gnu-efi's and EDK II's take them as EFI_GUID *, and
// EDK II's AutoGen.h declares it so.
#if defined(BOARD_EFI_HEADERS) || !defined(UI_SCREEN_PLATFORM_EFI)
#define UI_SCREEN_GUID_OBJECT const EFI_GUID
#else
#define UI_SCREEN_GUID_OBJECT EFI_GUID
#endif
UI_SCREEN_EXTERN_C UI_SCREEN_GUID_OBJECT gUiScreenProtocolGuid;
#ifdef UI_SCREEN_DEFINE_GUID
UI_SCREEN_GUID_OBJECT gUiScreenProtocolGuid = UI_SCREEN_PROTOCOL_GUID;
#endif

typedef struct UI_SCREEN_PROTOCOL UI_SCREEN_PROTOCOL;

// A key state of a run; callers only hand the pointer back, so it stays opaque here.
typedef struct KEY_STATE KEY_STATE;

// Window selectors of Print, Clear and ClearLine.
#define UI_WINDOW_MESSAGE_BOX 0
#define UI_WINDOW_VOLUME_LIST 1
#define UI_WINDOW_FILE_LIST 2
#define UI_WINDOW_FILE_INFO 3
#define UI_WINDOW_CALLER 4

// How Print places its text in the window row.
#define TEXT_MODE_LEFT 0
#define TEXT_MODE_WRAP 1
#define TEXT_MODE_RIGHT 2
#define TEXT_MODE_CENTRE 3

// Caller hooks of a run. A key hook answers EFI_NOT_READY to leave its state;
// EFI_END_OF_MEDIA from the escape or follow-up key hook ends the run. Key
// hooks get no HookContext: keep what they need in a global.
typedef EFI_STATUS(UI_SCREEN_EFIAPI *UI_START_HOOK)(UINTN Zero, UINT64 *Value, UINT8 *Byte);
typedef EFI_STATUS(UI_SCREEN_EFIAPI *UI_EVENT_HOOK)(VOID *HookContext);
typedef EFI_STATUS(UI_SCREEN_EFIAPI *UI_FILE_ENTER_HOOK)(EFI_FILE_PROTOCOL *Root, EFI_FILE_INFO *File, VOID *HookContext);
typedef EFI_STATUS(UI_SCREEN_EFIAPI *UI_ESCAPE_ENTER_HOOK)(VOID *Unused1, VOID *Unused2, VOID *HookContext);
typedef EFI_STATUS(UI_SCREEN_EFIAPI *UI_KEY_HOOK)(EFI_INPUT_KEY *Key, KEY_STATE *State);
// The notify function of the caller's event: the platform's EFI_EVENT_NOTIFY,
// with the convention fixed.
typedef VOID(UI_SCREEN_EFIAPI *UI_EVENT_NOTIFY)(EFI_EVENT Event, VOID *Context);

// What a caller hands to Run; Run copies it at the start and never looks at it again.
typedef struct {
  UINT64 BiosFileUnitSize;  // size granularity of BIOS files; 0 means 0x10000
  UINT64 BiosFileMaxSize;   // largest BIOS file; 0 means no limit
  UI_START_HOOK StartHook;
  VOID *HookContext;
  UI_EVENT_NOTIFY EventNotify;  // the caller's event exists only when both
  UI_EVENT_HOOK EventHook;      // EventNotify and EventHook are set
  UI_FILE_ENTER_HOOK FileChosenEnterHook;
  UI_KEY_HOOK FileChosenKeyHook;
  UI_FILE_ENTER_HOOK FileFollowUpEnterHook;
  UI_KEY_HOOK FileFollowUpKeyHook;
  UI_ESCAPE_ENTER_HOOK EscapeEnterHook;
  UI_KEY_HOOK EscapeKeyHook;
} UI_RUN_PARAMETERS;

// Where Print writes: a window selector, a cell and a placement mode.
typedef struct {
  UINT32 Window;
  UINT32 Reserved1;
  UINT64 Column;  // for TEXT_MODE_RIGHT, the distance from the right end
  UINT64 Row;
  UINT32 Mode;  // TEXT_MODE_*; other values write as TEXT_MODE_LEFT
  UINT32 Reserved2;
} UI_TEXT_POSITION;

typedef EFI_STATUS(UI_SCREEN_EFIAPI *UI_SCREEN_RUN)(UI_SCREEN_PROTOCOL *This, UI_RUN_PARAMETERS *Parameters);
typedef UINTN(UI_SCREEN_EFIAPI *UI_PRINT)(UI_TEXT_POSITION *Position, UINT32 *Attribute, const CHAR16 *Format, ...);
typedef EFI_STATUS(UI_SCREEN_EFIAPI *UI_CLEAR)(UINT32 Window, UINT64 *Attribute);
typedef EFI_STATUS(UI_SCREEN_EFIAPI *UI_CLEAR_LINE)(UINT32 Window, UINT64 Row, UINT64 *Attribute);
typedef EFI_STATUS(UI_SCREEN_EFIAPI *UI_NO_OPERATION)(VOID);
typedef EFI_STATUS(UI_SCREEN_EFIAPI *UI_DRAW_PROGRESS_FRAME)(VOID);
typedef EFI_STATUS(UI_SCREEN_EFIAPI *UI_SET_PROGRESS)(UINT8 Percent, UINT32 Style);

// Only Run takes the interface pointer; the other functions work on the one
// run in progress. Print takes 64-bit arguments (widen integers).
struct UI_SCREEN_PROTOCOL {
  UINT64 Revision;  // UI_SCREEN_PROTOCOL_REVISION
  EFI_HANDLE ImageHandle;
  EFI_SYSTEM_TABLE *SystemTable;
  UI_SCREEN_RUN Run;
  UI_PRINT Print;
  UI_CLEAR Clear;
  UI_CLEAR_LINE ClearLine;
  UI_NO_OPERATION NoOperation;
  UI_DRAW_PROGRESS_FRAME DrawProgressFrame;
  UI_SET_PROGRESS SetProgress;
};

#ifdef __cplusplus
#define UI_SCREEN_ASSERT(c, m) static_assert(c, m)
#else
#define UI_SCREEN_ASSERT(c, m) _Static_assert(c, m)
#endif
#if defined(__GNUC__) || defined(__clang__)
#define UI_SCREEN_OFFSET(t, f) __builtin_offsetof(t, f)
#else
#define UI_SCREEN_OFFSET(t, f) ((UINTN) & (((t *)0)->f))
#endif
UI_SCREEN_ASSERT(sizeof(UI_SCREEN_PROTOCOL) == 80, "UI_SCREEN_PROTOCOL size");
UI_SCREEN_ASSERT(UI_SCREEN_OFFSET(UI_SCREEN_PROTOCOL, ImageHandle) == 8, "ImageHandle");
UI_SCREEN_ASSERT(UI_SCREEN_OFFSET(UI_SCREEN_PROTOCOL, SystemTable) == 16, "SystemTable");
UI_SCREEN_ASSERT(UI_SCREEN_OFFSET(UI_SCREEN_PROTOCOL, Run) == 24, "Run");
UI_SCREEN_ASSERT(UI_SCREEN_OFFSET(UI_SCREEN_PROTOCOL, Print) == 32, "Print");
UI_SCREEN_ASSERT(UI_SCREEN_OFFSET(UI_SCREEN_PROTOCOL, Clear) == 40, "Clear");
UI_SCREEN_ASSERT(UI_SCREEN_OFFSET(UI_SCREEN_PROTOCOL, ClearLine) == 48, "ClearLine");
UI_SCREEN_ASSERT(UI_SCREEN_OFFSET(UI_SCREEN_PROTOCOL, NoOperation) == 56, "NoOperation");
UI_SCREEN_ASSERT(UI_SCREEN_OFFSET(UI_SCREEN_PROTOCOL, DrawProgressFrame) == 64, "DrawProgressFrame");
UI_SCREEN_ASSERT(UI_SCREEN_OFFSET(UI_SCREEN_PROTOCOL, SetProgress) == 72, "SetProgress");
UI_SCREEN_ASSERT(sizeof(UI_RUN_PARAMETERS) == 96, "UI_RUN_PARAMETERS size");
UI_SCREEN_ASSERT(UI_SCREEN_OFFSET(UI_RUN_PARAMETERS, BiosFileMaxSize) == 8, "BiosFileMaxSize");
UI_SCREEN_ASSERT(UI_SCREEN_OFFSET(UI_RUN_PARAMETERS, StartHook) == 16, "StartHook");
UI_SCREEN_ASSERT(UI_SCREEN_OFFSET(UI_RUN_PARAMETERS, HookContext) == 24, "HookContext");
UI_SCREEN_ASSERT(UI_SCREEN_OFFSET(UI_RUN_PARAMETERS, EventNotify) == 32, "EventNotify");
UI_SCREEN_ASSERT(UI_SCREEN_OFFSET(UI_RUN_PARAMETERS, EventHook) == 40, "EventHook");
UI_SCREEN_ASSERT(UI_SCREEN_OFFSET(UI_RUN_PARAMETERS, FileChosenEnterHook) == 48, "FileChosenEnterHook");
UI_SCREEN_ASSERT(UI_SCREEN_OFFSET(UI_RUN_PARAMETERS, FileChosenKeyHook) == 56, "FileChosenKeyHook");
UI_SCREEN_ASSERT(UI_SCREEN_OFFSET(UI_RUN_PARAMETERS, FileFollowUpEnterHook) == 64, "FileFollowUpEnterHook");
UI_SCREEN_ASSERT(UI_SCREEN_OFFSET(UI_RUN_PARAMETERS, FileFollowUpKeyHook) == 72, "FileFollowUpKeyHook");
UI_SCREEN_ASSERT(UI_SCREEN_OFFSET(UI_RUN_PARAMETERS, EscapeEnterHook) == 80, "EscapeEnterHook");
UI_SCREEN_ASSERT(UI_SCREEN_OFFSET(UI_RUN_PARAMETERS, EscapeKeyHook) == 88, "EscapeKeyHook");
UI_SCREEN_ASSERT(sizeof(UI_TEXT_POSITION) == 32, "UI_TEXT_POSITION size");
UI_SCREEN_ASSERT(UI_SCREEN_OFFSET(UI_TEXT_POSITION, Column) == 8, "Column");
UI_SCREEN_ASSERT(UI_SCREEN_OFFSET(UI_TEXT_POSITION, Row) == 16, "Row");
UI_SCREEN_ASSERT(UI_SCREEN_OFFSET(UI_TEXT_POSITION, Mode) == 24, "Mode");
#undef UI_SCREEN_ASSERT
#undef UI_SCREEN_OFFSET

#endif  // the UEFI types are there
#endif  // UI_SCREEN_PROTOCOL_H_INCLUDED
