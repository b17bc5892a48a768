# A cross build's programs run on this machine under qemu-user: the tests
# (through CTest) and the steps of the build that run a program of the
# project (the demo content). Included by the top-level list when cross
# compiling, before any target exists.
#
# qemu-user refuses clone(CLONE_PIDFD) while the host kernel answers Qt's
# probe for it, so Qt 5 would take -1 for the pid of every program it starts
# and a later kill would reach every process of the user. The emulated
# programs therefore preload tools/qemu/nopidfd.c, which fails the probe;
# programs of the host they start load an empty library of the same name
# (glibc picks the folder by $PLATFORM).
if(CMAKE_CROSSCOMPILING_EMULATOR)
  return()
endif()

find_program(LUMA_QEMU_USER NAMES qemu-${CMAKE_SYSTEM_PROCESSOR}-static qemu-${CMAKE_SYSTEM_PROCESSOR})
if(NOT LUMA_QEMU_USER)
  message(STATUS "qemu-${CMAKE_SYSTEM_PROCESSOR} not found: the cross build's tests cannot run here")
  return()
endif()
find_program(LUMA_HOST_CC NAMES cc gcc REQUIRED)

set(_preload_dir "${CMAKE_BINARY_DIR}/qemu-preload")
set(_preload_name "libluma-qemu-nopidfd.so")
file(MAKE_DIRECTORY "${_preload_dir}/${CMAKE_SYSTEM_PROCESSOR}" "${_preload_dir}/${CMAKE_HOST_SYSTEM_PROCESSOR}")
execute_process(
  COMMAND ${CMAKE_CXX_COMPILER} -x c -shared -fPIC -O2 -Wall -Wextra -Werror
          -o "${_preload_dir}/${CMAKE_SYSTEM_PROCESSOR}/${_preload_name}"
          "${PROJECT_SOURCE_DIR}/tools/qemu/nopidfd.c" -ldl
  RESULT_VARIABLE _target_rc)
execute_process(
  COMMAND ${LUMA_HOST_CC} -shared -fPIC -O2
          -o "${_preload_dir}/${CMAKE_HOST_SYSTEM_PROCESSOR}/${_preload_name}"
          "${PROJECT_SOURCE_DIR}/tools/qemu/empty.c"
  RESULT_VARIABLE _host_rc)
if(NOT _target_rc EQUAL 0 OR NOT _host_rc EQUAL 0)
  message(FATAL_ERROR "Building the qemu-user preload libraries failed")
endif()

# The emulator command of this build, also for scripts and by hand:
# <build>/run-emulated <program> [arguments]. $PLATFORM is left for the
# dynamic loader to fill in.
set(_runner "${CMAKE_BINARY_DIR}/run-emulated")
file(WRITE "${_runner}"
  "#!/bin/sh\n"
  "# Runs a program of this ${CMAKE_SYSTEM_PROCESSOR} build under qemu-user (written by cmake/QemuUser.cmake).\n"
  "LD_PRELOAD='${_preload_dir}/$PLATFORM/${_preload_name}'\n"
  "export LD_PRELOAD\n"
  "exec '${LUMA_QEMU_USER}' \"$@\"\n")
execute_process(COMMAND chmod 755 "${_runner}")
set(CMAKE_CROSSCOMPILING_EMULATOR "${_runner}")
message(STATUS "Programs of this build run under ${LUMA_QEMU_USER} (${_runner})")
