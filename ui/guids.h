// SPDX-License-Identifier: BSD-2-Clause-Patent
// Every GUID the UI driver installs, locates or reports under, defined once in
// guids.cpp (gUiScreenProtocolGuid is declared with the protocol).
#pragma once
#include "efi/efi.h"

extern const EFI_GUID gAdvancedGcProtocolGuid;           // {FBC9449A-681C-4517-AB91-0972ACDE77B4}
extern const EFI_GUID gEfiGraphicsOutputProtocolGuid;    // {9042A9DE-23DC-4A38-96FB-7ADED080516A}
extern const EFI_GUID gEfiSimplePointerProtocolGuid;     // {31878C87-0B75-11D5-9A4F-0090273FC14D}
extern const EFI_GUID gEfiSimpleFileSystemProtocolGuid;  // {964E5B22-6459-11D2-8E39-00A0C969723B}
extern const EFI_GUID gEfiLoadedImageProtocolGuid;
extern const EFI_GUID gFirmwareVolumeProtocolGuid;
extern const EFI_GUID gStatusCodeProtocolGuid;
extern const EFI_GUID gDebugMaskProtocolGuid;
extern const EFI_GUID gStatusCodeCallerIdGuid;  // the driver's caller id in every report
extern const EFI_GUID gStatusCodeDataTypeDebugGuid;
extern const EFI_GUID gStatusCodeDataTypeAssertGuid;
