# Cross build for the module: 32-bit ARM hard-float Linux.
# Needs Debian's crossbuild-essential-armhf and the :armhf -dev packages of
# libcurl, json-c and libexif; unit tests run under qemu-arm (qemu-user).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf /usr/lib/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /usr/arm-linux-gnueabihf)
# The Cortex-A7 of the module has NEON; stb's decoder uses it only when asked.
set(CMAKE_C_FLAGS_INIT "-mfpu=neon-vfpv4 -mfloat-abi=hard -DSTBI_NEON")
set(CMAKE_CXX_FLAGS_INIT "-mfpu=neon-vfpv4 -mfloat-abi=hard -DSTBI_NEON")
