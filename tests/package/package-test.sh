#!/usr/bin/env bash
# The Debian package builds, unpacks into a temporary root with the expected
# files, and the Tolvane it installs starts (--version needs no display).
set -euo pipefail
build="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
(cd "$build" && cpack -G DEB -B "$work/out" >/dev/null)
deb=$(ls "$work"/out/*.deb)
# Read whole before matching: grep -q leaving early would break the pipe.
info=$(dpkg-deb --info "$deb")
[[ "$info" == *"Package: tolvane"* ]] || { echo "not the tolvane package" >&2; exit 1; }
dpkg-deb -x "$deb" "$work/root"
for f in opt/vantorix/Tolvane opt/vantorix/Krandel usr/share/applications/tolvane.desktop \
         usr/share/icons/hicolor/64x64/apps/tolvane.png; do
  [ -f "$work/root/$f" ] || { echo "missing in the package: $f" >&2; exit 1; }
done
[ "$(readlink "$work/root/usr/bin/tolvane")" = /opt/vantorix/Tolvane ] || { echo "/usr/bin/tolvane does not point at Tolvane" >&2; exit 1; }
version=$("$work/root/opt/vantorix/Tolvane" --version)
[[ "$version" =~ ^[0-9]{4}\.[0-9]{4}\.[0-9]{4}$ ]] || { echo "installed Tolvane answered '$version'" >&2; exit 1; }
echo "package ok: $(basename "$deb"), Tolvane $version"
