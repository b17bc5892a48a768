# Cross-building for 64-bit ARM terminals on an x86_64 Debian machine with
# Debian multiarch: the arm64 libraries and their development files live
# beside the host's under /usr/lib/aarch64-linux-gnu; Qt's code generators
# (moc, uic, rcc) are the host's. scripts/build-arm64.sh installs all of it.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(PKG_CONFIG_EXECUTABLE aarch64-linux-gnu-pkg-config CACHE FILEPATH "pkg-config for arm64")

# Programs from the host; headers and libraries from the arm64 side, which
# multiarch keeps in their own folders under the same root.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
