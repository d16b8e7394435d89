// SPDX-License-Identifier: BSD-2-Clause-Patent
// The UI driver's GUIDs, in one place so that each value is written once.
#include "ui/guids.h"

#include "efi/graphics_console.h"
#include "efi/status_code.h"
#include "ui_screen.h"

const EFI_GUID gUiScreenProtocolGuid = UI_SCREEN_PROTOCOL_GUID;
const EFI_GUID gAdvancedGcProtocolGuid = ADVANCED_GC_PROTOCOL_GUID;
const EFI_GUID gEfiGraphicsOutputProtocolGuid = EFI_GRAPHICS_OUTPUT_PROTOCOL_GUID;
const EFI_GUID gEfiSimplePointerProtocolGuid = EFI_SIMPLE_POINTER_PROTOCOL_GUID;
const EFI_GUID gEfiSimpleFileSystemProtocolGuid = EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID;
const EFI_GUID gEfiLoadedImageProtocolGuid = EFI_LOADED_IMAGE_PROTOCOL_GUID;
const EFI_GUID gFirmwareVolumeProtocolGuid = EFI_FIRMWARE_VOLUME2_PROTOCOL_GUID;
const EFI_GUID gStatusCodeProtocolGuid = STATUS_CODE_PROTOCOL_GUID;
const EFI_GUID gDebugMaskProtocolGuid = DEBUG_MASK_PROTOCOL_GUID;
const EFI_GUID gStatusCodeCallerIdGuid = STATUS_CODE_CALLER_ID_GUID;
const EFI_GUID gStatusCodeDataTypeDebugGuid = STATUS_CODE_DATA_TYPE_DEBUG_GUID;
const EFI_GUID gStatusCodeDataTypeAssertGuid = STATUS_CODE_DATA_TYPE_ASSERT_GUID;
