#!/usr/bin/env bash
# Says which programs a local build holds and which Wine runs them, so that a log shows
# whether the shipped 32-bit build ran. Usage: build_route.sh <build dir>
cache="$1/CMakeCache.txt"
if grep -q '^CMAKE_TOOLCHAIN_FILE:.*x86_64' "$cache"; then
  echo "the x64 build (no 32-bit Wine runs on this machine)"
elif root=$(sed -n 's/^LI_WINE_ROOT:STRING=//p' "$cache") && [ -n "$root" ]; then
  echo "the i686 build, in the emulated 32-bit Wine of $root"
else
  echo "the i686 build, in this machine's 32-bit Wine"
fi
