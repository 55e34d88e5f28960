#!/usr/bin/env bash
# What the built Windows image must show: system DLLs only, the manifest (asInvoker,
# longPathAware) and a version resource carrying the payload's version.
# Usage: image_test.sh <zarvo-setup.exe> <expected version>
set -euo pipefail
exe=$1
version=$2
dump=$(x86_64-w64-mingw32-objdump -p "$exe")
dlls=$(printf '%s\n' "$dump" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u | tr '\n' ' ')
# Known DLLs and an API set: the loader takes them from the system folder whatever the search
# order, before start-up restricts where any later DLL is looked for.
allowed=" advapi32.dll api-ms-win-core-synch-l1-2-0.dll kernel32.dll msvcrt.dll ntdll.dll shell32.dll user32.dll "
for dll in $dlls; do
  case "$allowed" in *" $dll "*) ;; *) echo "imports a DLL that is not a system DLL: $dll" >&2; exit 1 ;; esac
done
echo "imports: $dlls"
# The resource section, as raw bytes: the manifest is stored as UTF-8 text, the version as UTF-16.
rsrc=$(mktemp)
trap 'rm -f "$rsrc"' EXIT
x86_64-w64-mingw32-objcopy -O binary --only-section=.rsrc "$exe" "$rsrc"
grep -q 'requestedExecutionLevel level="asInvoker"' "$rsrc" || { echo "no asInvoker manifest" >&2; exit 1; }
grep -q '<longPathAware xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">true</longPathAware>' "$rsrc" \
  || { echo "not longPathAware" >&2; exit 1; }
python3 - "$rsrc" "$version" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
version = sys.argv[2]
for key in ("ProductVersion", "FileVersion"):
    needle = (key + "\0").encode("utf-16-le")
    at = data.find(needle)
    if at < 0:
        sys.exit(f"no {key} in the version resource")
    start = at + len(needle)
    start += (-start) % 4  # values are 32-bit aligned
    end = data.find(b"\0\0", start)
    end += (end - start) % 2
    value = data[start:end].decode("utf-16-le")
    if value != version:
        sys.exit(f"{key} is {value!r}, expected {version!r}")
print(f"version resource: {version}")
PY
python3 -c "import sys,xml.dom.minidom; xml.dom.minidom.parse(sys.argv[1])" "$(dirname "$0")/../../src/resources/zarvo-setup.manifest"
echo "manifest: asInvoker, longPathAware"
