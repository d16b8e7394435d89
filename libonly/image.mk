IMAGES += PcdCacheDxe PcdCacheLiteDxe
PcdCacheDxe_SRCS = libonly/pcd_cache.cpp $(DRVLIB_SRCS)
PcdCacheDxe_ENTRY := PcdCacheEntry
PcdCacheDxe_CXXFLAGS := -DDRVLIB_MODULE_NAME='"PcdCacheDxe"'

PcdCacheLiteDxe_SRCS = libonly/pcd_cache_lite.cpp $(DRVLIB_SRCS)
PcdCacheLiteDxe_ENTRY := PcdCacheLiteEntry
PcdCacheLiteDxe_CXXFLAGS := -DDRVLIB_MODULE_NAME='"PcdCacheLiteDxe"' -DDRVLIB_HOB_YIELDS_POINTER=1
