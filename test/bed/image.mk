# The firmware test bed: the test application (booted as \EFI\BOOT\BOOTX64.EFI
# by test/bed/run.py) and the stand-in drivers for the components the
# deliverables expect from the rest of the firmware. None is a deliverable.
BED_COMMON := test/bed/port.cpp

IMAGES += TestBedApp
TESTBED_IMAGES += TestBedApp
TestBedApp_SRCS := test/bed/app/main.cpp test/bed/app/util.cpp test/bed/app/sc_selftest.cpp \
  test/bed/app/sc_screen.cpp test/bed/app/sc_small.cpp test/bed/app/sc_netidentity.cpp \
  test/bed/app/sc_setuptoken.cpp test/bed/app/sc_ui.cpp $(BED_COMMON)
TestBedApp_ENTRY := BedAppEntry
TestBedApp_SUBSYSTEM := efi_application
