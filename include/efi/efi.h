// One include for the UEFI and PI definitions every driver shares.
#pragma once
#include "base.h"
#include "system.h"
#include "protocols.h"
#include "pi.h"

// Tells include/ui_screen.h that the UEFI types are already here.
#define BOARD_EFI_HEADERS 1
