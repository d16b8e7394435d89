// The run's graphics output pointer, which the run loop owns; the picture
// tests set it themselves instead of linking the whole run.
#include "ui/run.h"

EFI_GRAPHICS_OUTPUT_PROTOCOL *GraphicsOutput;
