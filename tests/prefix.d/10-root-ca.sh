#!/usr/bin/env bash
# Makes the test Wine prefix trust the test root CA (<build>/pki/root_ca.der), so that WinINet
# accepts the fake publisher's certificates. Run by wine_run.sh when it creates the prefix, and
# by the fake publisher fixture for a prefix made before this hook existed.
#
# The certificate goes into the current user's ROOT store, which Windows and Wine trust beside
# the machine's. (Newer Wine makes the machine store's key volatile and fills it with the host's
# roots each time its server starts: a certificate put there vanishes with the server.) It goes
# in as a registry value, the form in which the system store keeps it: key = SHA-1 thumbprint
# in upper-case hex, value "Blob" = the serialized certificate element (property id 32, the
# encoded certificate; then a 32-bit 1 and the length, both little-endian). A registry import
# needs nothing from the build but the PKI, which configure makes before any test runs.
set -euo pipefail
prefix=${1:-$WINEPREFIX}
build=${LI_BUILD_DIR:-$(dirname "$prefix")}
der="$build/pki/root_ca.der"
[ -f "$der" ] || { echo "10-root-ca: $der not found" >&2; exit 1; }

reg=$(mktemp --suffix=.reg)
trap 'rm -f "$reg"' EXIT
python3 - "$der" "$reg" <<'PY'
import hashlib, struct, sys
der = open(sys.argv[1], "rb").read()
thumb = hashlib.sha1(der).hexdigest().upper()
blob = struct.pack("<III", 32, 1, len(der)) + der
lines = ["REGEDIT4", "",
         "[HKEY_CURRENT_USER\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\%s]" % thumb]
hexes = ["%02x" % b for b in blob]
# regedit takes continuation lines; a line break may only come between two bytes.
rows = [",".join(hexes[i:i + 25]) for i in range(0, len(hexes), 25)]
lines.append('"Blob"=hex:' + ",\\\n  ".join(rows))
open(sys.argv[2], "w", newline="\r\n").write("\n".join(lines) + "\n\n")
PY
WINEPREFIX="$prefix" WINEDEBUG=-all wine regedit /S "$(WINEPREFIX="$prefix" winepath -w "$reg")"
touch "$prefix/.li-root-ca"
