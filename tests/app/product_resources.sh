#!/usr/bin/env bash
# What Windows reads from the program file itself: the manifest (no elevation, system
# DPI awareness, common controls 6, no Windows version declared, so that the 16-bit
# display modes stay listed, the X86 architecture) and the version information (from
# VERSION) shown in the file's properties.
# The resources are read back from the built program with windres.
#   product_resources.sh PemloRecorder.exe
set -euo pipefail
exe="$1"
rc=$(i686-w64-mingw32-windres -J coff -O rc -i "$exe")
failed=0
expect() {  # expect DESCRIPTION REGEX
  if grep -q -E -- "$2" <<<"$rc"; then echo "ok   $1"; else echo "FAIL $1"; failed=1; fi
}
expect_not() {
  if grep -q -E -- "$2" <<<"$rc"; then echo "FAIL $1"; failed=1; else echo "ok   $1"; fi
}
expect "a manifest" '^1 24'
expect "asks for no elevation" 'requestedExecutionLevel level=""asInvoker""'
expect "DPI aware" '<dpiAware [^>]*>true</dpiAware>'
expect "DPI awareness: system" '<dpiAwareness [^>]*>system</dpiAwareness>'
expect "common controls 6" 'Microsoft.Windows.Common-Controls"" version=""6\.0\.0\.0""'
expect_not "no Windows version declared" '<supportedOS'
expect "version information" '^1 VERSIONINFO'
for key in ProductName FileDescription FileVersion ProductVersion LegalCopyright \
    OriginalFilename; do
  expect "$key" "VALUE \"$key\", \"[^\"]+\""
done
# The 32-bit product names its own architecture, for itself and for the Common Controls.
arches=$(grep -o 'processorArchitecture=""[^"]*""' <<<"$rc" | sort | uniq -c | tr -s ' ' | sed 's/^ //')
if [ "$arches" = '2 processorArchitecture=""X86""' ]; then echo "ok   X86, twice"; else
  echo "FAIL X86, twice: $arches"; failed=1; fi
version=$(cat "$(dirname "$0")/../../VERSION")
expect "FileVersion is $version.0" "VALUE \"FileVersion\", \"$version\.0\""
expect "ProductVersion is $version.0" "VALUE \"ProductVersion\", \"$version\.0\""
expect "FILEVERSION ${version//./, }, 0" "FILEVERSION ${version//./, }, 0"
expect "ProductName is Pemlo Recorder" 'VALUE "ProductName", "Pemlo Recorder"'
expect "OriginalFilename is PemloRecorder.exe" 'VALUE "OriginalFilename", "PemloRecorder.exe"'
exit "$failed"
