#!/bin/sh
# Where Torvexan.dll and torvexan-check.exe take libusb-1.0.dll from, under Wine: the stand-in
# libusb-1.0.dll (which writes its path into a mark file when it is loaded) is placed in the
# current directory, in a folder on the PATH, beside the host program and in the plug-in's
# folder, and each run must take exactly the copy the safe search allows.
#
#   usb_search_cases.sh WIN32_TESTS_DIR CHECK_EXE
#
# Run by scripts/wine-smoke inside its private network namespace, with its Wine prefix (the
# host's window needs the virtual X display of xvfb-run).
set -eu

tests=$1
check_exe=$2
root="$tests/usb-search"
rm -rf "$root"
mkdir -p "$root/app/PlugIns" "$root/jobs" "$root/onpath"
cp "$tests/torvexan_win32_usb_search_host.exe" "$check_exe" "$root/app/"
cp "$tests/../../src/host/Torvexan.dll" "$root/app/PlugIns/"  # the build's own, fresh
libusb="$tests/platform/libusb-1.0.dll"

failed=0
fail() {
  echo "usb search: FAILED: $1"
  failed=1
}
place() {  # place FOLDER...: the stand-in in exactly these folders
  rm -f "$root"/*/libusb-1.0.dll "$root"/app/PlugIns/libusb-1.0.dll
  for folder in "$@"; do cp "$libusb" "$root/$folder/"; done
}
# The host started from the jobs folder (the current directory a file dialog leaves behind),
# with the onpath folder on the PATH.
run_host() {
  (cd "$root/jobs" && WINEPATH='Z:'"$root/onpath" xvfb-run -a timeout 60 wine \
    "$root/app/torvexan_win32_usb_search_host.exe" 'Z:'"$root/app/PlugIns/Torvexan.dll") |
    tr -d '\r' >"$root/out" 2>&1 || fail "the host failed: $(cat "$root/out")"
  cat "$root/out"
}
loaded() {  # the folder names of the copies loaded, or "none"
  sed -n 's/^libusb loaded: //p' "$root/out" | tr '\\' '/' |
    sed 's|.*/usb-search/||; s|/libusb-1.0.dll$||' | tr '\n' ' ' | sed 's/ $//'
}

echo "-- only in the current directory and on the PATH: not loaded"
place jobs onpath
run_host
[ "$(loaded)" = none ] || fail "loaded '$(loaded)' from the current directory or the PATH"

echo "-- beside the host program too: that copy"
place jobs onpath app
run_host
[ "$(loaded)" = app ] || fail "loaded '$(loaded)', not the copy beside the host program"

echo "-- in the plug-in's folder: that copy"
place jobs app/PlugIns
run_host
[ "$(loaded)" = app/PlugIns ] || fail "loaded '$(loaded)', not the copy in the plug-in's folder"

# The card check beside the host program searches the same folders and says which.
echo "-- the card check, started from the current directory that holds a copy"
place jobs onpath
(cd "$root/jobs" && WINEPATH='Z:'"$root/onpath" timeout 60 wine "$root/app/torvexan-check.exe" \
  --no-ethernet --seconds 0) | tr -d '\r' >"$root/check" 2>&1 || true
cat "$root/check"
grep -q 'libusb-1.0.dll: not found' "$root/check" || fail "the check found a planted copy"
grep -qi 'usb-search.app.PlugIns$' "$root/check" || fail "the check does not name the PlugIns folder"
if grep -qi 'usb-search.jobs\|usb-search.onpath' "$root/check"; then
  fail "the check names the current directory or the PATH as searched"
fi
place jobs app
(cd "$root/jobs" && timeout 60 wine "$root/app/torvexan-check.exe" --no-ethernet --seconds 0) |
  tr -d '\r' >"$root/check" 2>&1 || true
grep -qi 'libusb-1.0.dll: .* .*usb-search.app.libusb-1.0.dll' "$root/check" ||
  fail "the check did not take the copy beside it: $(grep 'libusb-1.0.dll:' "$root/check")"

[ "$failed" -eq 0 ] && echo "usb search: passed"
exit "$failed"
