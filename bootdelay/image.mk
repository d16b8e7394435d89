IMAGES += BootDelayDxe
BootDelayDxe_SRCS = bootdelay/boot_delay.cpp $(DRVLIB_SRCS)
BootDelayDxe_ENTRY := BootDelayEntry
BootDelayDxe_CXXFLAGS := -DDRVLIB_MODULE_NAME='"BootDelayDxe"'
