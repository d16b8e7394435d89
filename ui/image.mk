# The UI engine image: the protocol and its run, the compositor and layout,
# the key states and browser, the formatter and library, and the pictures.
UI_SRCS := \
  ui/entry.cpp ui/guids.cpp ui/status_report.cpp ui/format.cpp \
  ui/run.cpp ui/key_stack.cpp ui/key_states.cpp ui/pointer.cpp \
  ui/screen.cpp ui/window_text.cpp ui/layout.cpp \
  ui/bios_files.cpp ui/browser.cpp \
  ui/pictures.cpp ui/section.cpp ui/bmp.cpp

IMAGES += TarvexUIV4x64
TarvexUIV4x64_SRCS := $(UI_SRCS)
TarvexUIV4x64_ENTRY := UiScreenEntryPoint
