#!/usr/bin/env bash
# Cross-builds the terminal for 64-bit ARM boards (arm64) on an x86_64 Debian
# 12 machine with Debian multiarch, runs the arm64 tests under qemu-user, makes
# the arm64 Debian package with the same CPack rules as the x86_64 one, and
# checks that both architectures put the same bytes on the wire.
#   LUMA_ARM64_BUILD_DIR  build folder (default build-arm64)
#   LUMA_ARM64_TESTS=0    skip the emulated test run
#   LUMA_ARM64_BENCH=1    also run the benchmarks under qemu and print their figures
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

ARM_BUILD_DIR="${LUMA_ARM64_BUILD_DIR:-$ROOT/build-arm64}"

# The host build gives the x86_64 side of the wire comparison.
install_packages
install_arm64_packages
enable_qemu_binfmt

echo "== host build (x86_64)"
configure_and_build "$BUILD_DIR"

echo "== cross build (arm64)"
configure_and_build "$ARM_BUILD_DIR" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/aarch64-linux-gnu.cmake"
for program in lumalink/lumalink lumaview/lumaview tools/sim/lumasim; do
  require_aarch64 "$ARM_BUILD_DIR/$program"
done

# Everything emulated goes through the build's emulator command: qemu-user
# with the preload that keeps Qt's process launcher working under it.
EMULATOR="$ARM_BUILD_DIR/run-emulated"

echo "== wire bytes: x86_64 against arm64"
"$BUILD_DIR/tools/wiredump/wiredump" >"$ARM_BUILD_DIR/wirebytes-x86_64.txt"
"$EMULATOR" "$ARM_BUILD_DIR/tools/wiredump/wiredump" >"$ARM_BUILD_DIR/wirebytes-arm64.txt"
if ! diff -u "$ARM_BUILD_DIR/wirebytes-x86_64.txt" "$ARM_BUILD_DIR/wirebytes-arm64.txt"; then
  echo "!! the two architectures give different bytes (above)" >&2
  exit 1
fi
echo "   same bytes: $(wc -l <"$ARM_BUILD_DIR/wirebytes-arm64.txt") lines of frames, cuts and figures"

echo "== arm64 package"
rm -f "$ARM_BUILD_DIR"/package/*.deb
(cd "$ARM_BUILD_DIR" && cpack -G DEB >/dev/null)
deb=$(ls "$ARM_BUILD_DIR"/package/*.deb)
echo "   $deb"
dpkg-deb -f "$deb" Package Version Architecture | sed 's/^/   /'
check_package_machine "$deb" AArch64

if [ "${LUMA_ARM64_TESTS:-1}" != "0" ]; then
  echo "== arm64 tests under qemu-user"
  export QT_QPA_PLATFORM=offscreen
  (cd "$ARM_BUILD_DIR" && ctest --output-on-failure -j "${LUMA_TEST_JOBS:-2}")
fi

if [ "${LUMA_ARM64_BENCH:-0}" = "1" ]; then
  echo "== benchmarks under qemu-user (emulated figures, not a device's)"
  "$ROOT/scripts/bench.sh" "$ARM_BUILD_DIR"
fi
echo "== arm64 done: $deb"
