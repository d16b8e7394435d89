// SPDX-License-Identifier: BSD-2-Clause-Patent
// The UI driver's library start-up, and its debug messages and assertions,
// which go to the firmware's status-code service as data records.
#include "ui/status_report.h"

#include "ui/guids.h"

EFI_HANDLE gImageHandle;
EFI_SYSTEM_TABLE *gST;
EFI_BOOT_SERVICES *gBS;
EFI_RUNTIME_SERVICES *gRT;

#ifdef EFI_HOST_TEST
VOID (*gDriverLibAssertStop)(VOID);
#endif

namespace {

// Looked up again at every start-up; null means the default mask.
DEBUG_MASK_PROTOCOL *DebugMask;
// Located on first use and kept; a failed lookup is retried at the next report.
STATUS_CODE_PROTOCOL *StatusCode;

// The file name and line numbers under which the start-up reports its own
// missing tables; status-code consumers match on them.
const CHAR8 LibraryFileName[] = "EfiDriverLib";

UINTN AsciiLength(const CHAR8 *Text) {
  UINTN Length = 0;
  while (Text[Length] != 0) Length++;
  return Length;
}

VOID StopHere(VOID) {
#ifdef EFI_HOST_TEST
  if (gDriverLibAssertStop != nullptr) gDriverLibAssertStop();
#endif
  for (;;) __builtin_debugtrap();
}

// How many argument slots a debug format consumes: one per conversion letter
// and one per "*" width. Only those are read from the caller's list, so a
// message never reads past the arguments it was given.
UINTN DebugArgumentCount(const CHAR8 *Format) {
  UINTN Count = 0;
  while (*Format != 0) {
    if (*Format++ != '%') continue;
    for (; *Format != 0; Format++) {
      CHAR8 Ch = *Format;
      if (Ch == '*') {
        Count++;
      } else if (Ch == '-' || Ch == '+' || Ch == ' ' || Ch == ',' || Ch == 'l' || Ch == 'L' || (Ch >= '0' && Ch <= '9')) {
        continue;
      } else {
        break;
      }
    }
    CHAR8 Conversion = *Format;
    if (Conversion == 0) break;
    Format++;
    if ((Conversion >= 'a' && Conversion <= 'z') || (Conversion >= 'A' && Conversion <= 'Z')) Count++;
  }
  return Count < DEBUG_RECORD_ARGUMENTS ? Count : DEBUG_RECORD_ARGUMENTS;
}

UINTN CurrentDebugMask(VOID) {
  UINTN Mask = DEBUG_MASK_DEFAULT;
  if (DebugMask != nullptr && EFI_ERROR(DebugMask->GetDebugMask(DebugMask, &Mask))) Mask = DEBUG_MASK_DEFAULT;
  return Mask;
}

}  // namespace

EFI_STATUS EfiLibReportStatusCode(UINT32 Type, UINT32 Value, UINT32 Instance, const EFI_GUID *CallerId, VOID *Data) {
  if (gBS == nullptr) return EFI_UNSUPPORTED;
  if (StatusCode == nullptr) {
    VOID *Interface = nullptr;
    if (EFI_ERROR(gBS->LocateProtocol(&gStatusCodeProtocolGuid, nullptr, &Interface)) || Interface == nullptr) return EFI_UNSUPPORTED;
    StatusCode = (STATUS_CODE_PROTOCOL *)Interface;
  }
  return StatusCode->ReportStatusCode(Type, Value, Instance, CallerId, Data);
}

VOID EFIAPI EfiDebugPrint(UINTN ErrorLevel, const CHAR8 *Format, ...) {
  if ((ErrorLevel & CurrentDebugMask()) == 0) return;
  if (Format == nullptr) Format = "";

  DEBUG_RECORD Record;
  __builtin_memset(&Record, 0, sizeof(Record));
  Record.Header.HeaderSize = sizeof(STATUS_CODE_DATA_HEADER);
  Record.Header.Size = sizeof(Record) - sizeof(STATUS_CODE_DATA_HEADER);
  Record.Header.Type = gStatusCodeDataTypeDebugGuid;
  Record.ErrorLevel = (UINT32)ErrorLevel;

  // Slots the format does not use stay 0.
  UINTN Used = DebugArgumentCount(Format);
  EFI_VA_LIST Args;
  EFI_VA_START(Args, Format);
  for (UINTN Index = 0; Index < Used; Index++) Record.Arguments[Index] = EFI_VA_ARG(Args, UINT64);
  EFI_VA_END(Args);

  UINTN Length = 0;
  for (; Length < DEBUG_RECORD_FORMAT_CHARS && Format[Length] != 0; Length++) Record.Format[Length] = Format[Length];
  Record.Format[Length] = 0;

  EfiLibReportStatusCode(STATUS_CODE_TYPE_DEBUG, STATUS_CODE_VALUE_DEBUG, (UINT32)ErrorLevel, &gStatusCodeCallerIdGuid, &Record);
}

VOID EfiDebugAssert(const CHAR8 *FileName, UINTN LineNumber, const CHAR8 *Description) {
  if (FileName == nullptr) FileName = "";
  if (Description == nullptr) Description = "";
  UINTN FileLength = AsciiLength(FileName);
  UINTN TextLength = AsciiLength(Description);

  // Both texts travel with their 0 bytes; a pair that would not fit is not sent.
  UINTN Needed;
  if (!__builtin_add_overflow(FileLength, TextLength, &Needed) && !__builtin_add_overflow(Needed, 2, &Needed) &&
      Needed <= sizeof(ASSERT_RECORD::Texts)) {
    ASSERT_RECORD Record;
    __builtin_memset(&Record, 0, sizeof(Record));
    Record.Header.HeaderSize = sizeof(STATUS_CODE_DATA_HEADER);
    Record.Header.Size = (UINT16)(FileLength + TextLength + 40);
    Record.Header.Type = gStatusCodeDataTypeAssertGuid;
    Record.LineNumber = (UINT32)LineNumber;
    __builtin_memcpy(Record.Texts, FileName, FileLength + 1);
    __builtin_memcpy(Record.Texts + FileLength + 1, Description, TextLength + 1);
    EfiLibReportStatusCode(STATUS_CODE_TYPE_UNRECOVERED, STATUS_CODE_VALUE_ASSERT, 0, &gStatusCodeCallerIdGuid, &Record);
  }
  StopHere();
}

EFI_STATUS EfiInitializeDriverLib(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  gImageHandle = ImageHandle;
  gST = SystemTable;
  if (gST == nullptr) {
    EfiDebugAssert(LibraryFileName, 55, "gST != ((void *) 0)");
    return EFI_SUCCESS;
  }
  gBS = gST->BootServices;
  gRT = gST->RuntimeServices;
  if (gBS == nullptr) EfiDebugAssert(LibraryFileName, 60, "gBS != ((void *) 0)");
  if (gRT == nullptr) EfiDebugAssert(LibraryFileName, 61, "gRT != ((void *) 0)");

  VOID *Interface = nullptr;
  if (gBS == nullptr || EFI_ERROR(gBS->HandleProtocol(ImageHandle, &gDebugMaskProtocolGuid, &Interface))) Interface = nullptr;
  DebugMask = (DEBUG_MASK_PROTOCOL *)Interface;

  EfiDebugPrint(EFI_D_INFO, "EfiInitializeDriverLib: Started\n");
  return EFI_SUCCESS;
}

#ifdef EFI_HOST_TEST
VOID DriverLibForgetInterfaces(VOID) {
  DebugMask = nullptr;
  StatusCode = nullptr;
}
#endif
