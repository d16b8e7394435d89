# SPDX-License-Identifier: BSD-2-Clause-Patent
# The firmware test bed: the test application (booted as \EFI\BOOT\BOOTX64.EFI
# by test/bed/run.py) and the stand-in drivers for the components the
# deliverables expect from the rest of the firmware. None is a deliverable.
BED_COMMON := test/bed/port.cpp

IMAGES += TestBedApp
TESTBED_IMAGES += TestBedApp
TestBedApp_SRCS := test/bed/app/main.cpp test/bed/app/util.cpp test/bed/app/sc_selftest.cpp \
  test/bed/app/sc_screen.cpp test/bed/app/sc_small.cpp test/bed/app/sc_netidentity.cpp \
  test/bed/app/sc_setuptoken.cpp test/bed/app/sc_ui.cpp test/bed/app/libenv.cpp \
  test/bed/app/window.cpp test/bed/app/sc_board.cpp \
  test/bed/app/our_drivers.cpp test/bed/app/sc_dispatch.cpp $(BED_COMMON)
TestBedApp_ENTRY := BedAppEntry
TestBedApp_SUBSYSTEM := efi_application

# Stand-ins: each publishes what the drivers expect from another firmware
# module, plus a probe (test/bed/bed.h) for the test application.
STANDINS := DebugPrintStandIn PcdStandIn SmmBaseStandIn TokenServiceStandIn
IMAGES += $(STANDINS)
TESTBED_IMAGES += $(STANDINS)
BED_STANDIN := test/bed/standin/standin.cpp $(BED_COMMON)
DebugPrintStandIn_SRCS := test/bed/standin/debug_print.cpp $(BED_STANDIN)
DebugPrintStandIn_ENTRY := DebugPrintStandInEntry
PcdStandIn_SRCS := test/bed/standin/pcd.cpp $(BED_STANDIN)
PcdStandIn_ENTRY := PcdStandInEntry
SmmBaseStandIn_SRCS := test/bed/standin/smm_base.cpp $(BED_STANDIN)
SmmBaseStandIn_ENTRY := SmmBaseStandInEntry
TokenServiceStandIn_SRCS := test/bed/standin/token_service.cpp $(BED_STANDIN)
TokenServiceStandIn_ENTRY := TokenServiceStandInEntry
IMAGES += SmbiosEditStandIn
TESTBED_IMAGES += SmbiosEditStandIn
SmbiosEditStandIn_SRCS := test/bed/standin/smbios_edit.cpp $(BED_STANDIN)
SmbiosEditStandIn_ENTRY := SmbiosEditStandInEntry
IMAGES += GraphicsConsoleStandIn
TESTBED_IMAGES += GraphicsConsoleStandIn
GraphicsConsoleStandIn_SRCS := test/bed/standin/graphics_console.cpp $(BED_STANDIN)
GraphicsConsoleStandIn_ENTRY := GraphicsConsoleStandInEntry
