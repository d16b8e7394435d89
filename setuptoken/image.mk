IMAGES += SetupTokenSmm
SetupTokenSmm_SRCS := setuptoken/startup.cpp setuptoken/driver_entry.cpp setuptoken/smi_handler.cpp \
  setuptoken/translate.cpp setuptoken/token_table.cpp
SetupTokenSmm_ENTRY := SetupTokenSmmEntry
