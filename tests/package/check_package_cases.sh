#!/usr/bin/env bash
# scripts/check-package against release archives with one fault each, made from the good one
# that scripts/package left in build/win32: each must be refused, for its own reason.
#   tests/package/check_package_cases.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/release-files

good="build/win32/$release_folder.zip"
[[ -f "$good" ]] || { echo "check-package cases: $good missing (scripts/package makes it)"; exit 1; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failed=0

# case NAME REASON: packs $work/tree/ into an archive of the release's name and expects
# check-package to refuse it with REASON; then restores the good tree.
refused() {
  local zip="$work/$1/$release_folder.zip" out
  mkdir -p "$work/$1"
  (cd "$work/tree" && cmake -E tar cf "$zip" --format=zip "$release_folder")
  if out="$(scripts/check-package "$zip" 2>&1)"; then
    echo "check-package cases: $1: FAILED, passed: $out"
    failed=1
  elif ! grep -qF -- "$2" <<<"$out"; then
    echo "check-package cases: $1: FAILED, refused for another reason: $out"
    failed=1
  else
    echo "check-package cases: $1: refused ($out)"
  fi
  rm -rf "$work/tree"
  mkdir -p "$work/tree"
  unzip -q "$good" -d "$work/tree"
}

mkdir -p "$work/tree"
unzip -q "$good" -d "$work/tree"
files="$work/tree/$release_folder"

cp build/win32/src/host/Torvexan.dll "$files/Torvexan.dll"
refused unstripped-dll "Torvexan.dll carries debug sections: .debug_"

cp build/win32/tools/torvexan-check/torvexan-check.exe "$files/torvexan-check.exe"
refused unstripped-check "torvexan-check.exe carries debug sections"

i686-w64-mingw32-objcopy --remove-section=.gnu_debuglink "$files/Torvexan.dll" "$files/Torvexan.dll"
refused no-debug-link "Torvexan.dll does not name its debug file"

tr -d '\r' <"$files/README.txt" >"$work/readme" && cp "$work/readme" "$files/README.txt"
refused readme-lf "README.txt has"

tail -c +4 "$files/README.txt" >"$work/readme" && cp "$work/readme" "$files/README.txt"
refused readme-no-bom "README.txt lacks the UTF-8 byte-order mark"

sed -i 's|<table|<div|' "$files/user-guide.html"
refused guide-edited "user-guide.html is not made from the current docs/user-guide.md"

rm "$files/torvexan-check.exe"
refused missing-file "not '"

echo "notes" >"$files/notes.txt"
refused extra-file "notes.txt"

[[ "$failed" -eq 0 ]] && echo "check-package cases: passed"
exit "$failed"
