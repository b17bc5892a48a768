#!/usr/bin/env bash
# Installs what is missing, builds, and makes the Debian package of the
# terminal with CPack: build/package/com.qerbix.lumaview_<version>_<arch>.deb.
# It installs both programs in /opt/apps/com.qerbix.lumaview/files/ and an
# autostart entry that starts the service in every desktop session.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

install_packages
configure_and_build "$BUILD_DIR"

rm -f "$BUILD_DIR"/package/*.deb
(cd "$BUILD_DIR" && cpack -G DEB >/dev/null)
deb=$(ls "$BUILD_DIR"/package/*.deb)
echo "== package: $deb"
dpkg-deb -f "$deb" Package Version Architecture
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print "   " $NF}'
echo "== install it with: sudo apt install $deb"
