# The library sources and the test support, for every test of an image that
# links the library (include() this, then list ${DRVLIB_SRCS} ${DRVLIB_TEST_SUPPORT}).
set(DRVLIB_SRCS
  ${CMAKE_SOURCE_DIR}/drvlib/startup.cpp ${CMAKE_SOURCE_DIR}/drvlib/cfg_pcd_buf.cpp ${CMAKE_SOURCE_DIR}/drvlib/pcd.cpp
  ${CMAKE_SOURCE_DIR}/drvlib/debug_print.cpp ${CMAKE_SOURCE_DIR}/drvlib/hob_list.cpp
  ${CMAKE_SOURCE_DIR}/drvlib/runtime_scratch.cpp ${CMAKE_SOURCE_DIR}/drvlib/mmio_base.cpp
  ${CMAKE_SOURCE_DIR}/drvlib/smm_presence.cpp)
set(DRVLIB_TEST_SUPPORT ${CMAKE_SOURCE_DIR}/test/drvlib/lib_support.cpp ${CMAKE_SOURCE_DIR}/test/drvlib/var_probe.cpp)
