# The demo flash tool: a boot application of the test bed (not a deliverable)
# that dispatches our drivers from their volume and drives the UI with them.
IMAGES += DemoFlashTool
TESTBED_IMAGES += DemoFlashTool
DemoFlashTool_SRCS := test/demo/main.cpp test/demo/platform.cpp test/demo/plan.cpp test/demo/flash_tool.cpp \
  test/demo/flash_part.cpp test/demo/backdrop.cpp test/demo/bench.cpp \
  test/bed/app/util.cpp test/bed/app/libenv.cpp test/bed/port.cpp
DemoFlashTool_ENTRY := DemoEntry
DemoFlashTool_SUBSYSTEM := efi_application
