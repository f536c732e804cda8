# Cross build for the module: 32-bit ARM hard-float Linux.
# Needs Debian's g++-arm-linux-gnueabihf, qemu-user and the :armhf packages that
# scripts/deps.sh installs; tests run under qemu-arm (qemu-user).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf /usr/lib/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig)
# No -L /usr/arm-linux-gnueabihf: that folder's loader comes from the cross
# toolchain's glibc while libc.so.6 is found in the multiarch libc6:armhf, a
# different build; the pair crashes in the first pthread_create. Without -L the
# loader and every library come from the :armhf packages.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm)
# 64-bit file offsets: SD cards and camera movies pass 2 GiB. 64-bit time_t:
# the camera is still in the field after 2038 (needs glibc 2.34, which this
# build's glibc already requires). The Cortex-A7 of the module has NEON
# (libjpeg finds it by itself). -Wno-psabi: GCC's note about the ARM ABI
# change of GCC 7.1 concerns no interface of ours.
set(QZ_ARM_FLAGS "-mfpu=neon-vfpv4 -mfloat-abi=hard -D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64 -Wno-psabi")
set(CMAKE_C_FLAGS_INIT "${QZ_ARM_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${QZ_ARM_FLAGS}")
# The target's program loader: the simulated board starts the daemon through it
# under the emulator.
set(QZ_TARGET_LOADER /lib/ld-linux-armhf.so.3)
