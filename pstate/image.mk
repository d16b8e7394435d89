IMAGES += PstateOverrideDxe
PstateOverrideDxe_SRCS = pstate/pstate_override.cpp $(DRVLIB_SRCS)
PstateOverrideDxe_ENTRY := PstateOverrideEntry
PstateOverrideDxe_CXXFLAGS := -DDRVLIB_MODULE_NAME='"PstateOverrideDxe"'
