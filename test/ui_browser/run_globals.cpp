// The run's protocol GUIDs, which the run loop defines; the browser tests
// link the screen and layout without the run loop.
#include "ui/run.h"

EFI_GUID gAdvancedGcProtocolGuid = {0xFBC9449A, 0x681C, 0x4517, {0xAB, 0x91, 0x09, 0x72, 0xAC, 0xDE, 0x77, 0xB4}};
EFI_GUID gEfiGraphicsOutputProtocolGuid = EFI_GRAPHICS_OUTPUT_PROTOCOL_GUID;
