IMAGES += SetupTokenSmm
SetupTokenSmm_SRCS := setuptoken/startup.cpp setuptoken/driver_entry.cpp setuptoken/smi_handler.cpp \
  setuptoken/translate.cpp
SetupTokenSmm_ENTRY := SetupTokenSmmEntry
# SMM images keep their sections page-aligned so that the SMM core can
# protect code and data pages separately.
SetupTokenSmm_LDFLAGS := /driver /align:4096
