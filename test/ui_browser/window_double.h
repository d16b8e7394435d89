// TEST DOUBLE of the compositor's window functions for the browser tests
// (see window_double.cpp).
#pragma once
#include "ui/layout.h"
#include "ui/screen.h"
#include "ui/window_text.h"

UI_WINDOW *MakeDoubleWindow(UINTN Width, UINTN Height, UINTN TextWidth, UINT64 Attribute);
void FreeDoubleWindow(UI_WINDOW *&w);

extern int DoubleShadeCalls;
extern int DoubleUnshadeCalls;
