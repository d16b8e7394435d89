# The shared driver library: no image of its own; each linking image lists
# $(DRVLIB_SRCS) and sets the DRVLIB_* options described in drvlib/drvlib.h.
DRVLIB_SRCS := drvlib/startup.cpp drvlib/cfg_pcd_buf.cpp drvlib/pcd.cpp drvlib/debug_print.cpp drvlib/hob_list.cpp \
  drvlib/runtime_scratch.cpp drvlib/mmio_base.cpp drvlib/smm_presence.cpp
