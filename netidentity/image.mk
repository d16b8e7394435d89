IMAGES += NetIdentityDxe
NetIdentityDxe_SRCS = netidentity/entry.cpp netidentity/nic_discovery.cpp netidentity/system_identity.cpp netidentity/text.cpp \
  $(DRVLIB_SRCS)
NetIdentityDxe_ENTRY := NetIdentityEntry
NetIdentityDxe_CXXFLAGS := -DDRVLIB_MODULE_NAME='"NetIdentityDxe"' -DDRVLIB_FULL_STARTUP=1
