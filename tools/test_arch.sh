#!/usr/bin/env bash
# Prints the architecture the test build is made for: i686 (what ships) where this machine
# runs 32-bit programs, else x86_64 (some kernels have no 32-bit mode at all; Wine then runs
# the test programs as 64-bit Windows programs). LI_TEST_ARCH overrides the probe.
if [ -n "${LI_TEST_ARCH:-}" ]; then
  echo "$LI_TEST_ARCH"
elif [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo i686
else
  echo x86_64
fi
