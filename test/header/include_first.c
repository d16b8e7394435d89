/* include/ui_screen.h before the platform's UEFI headers: one message that
 * says what to include first, and nothing defined twice. */
#include "ui_screen.h"
#include <efi.h>
