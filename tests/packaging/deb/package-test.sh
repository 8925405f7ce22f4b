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
         usr/share/icons/hicolor/64x64/apps/tolvane.png usr/share/doc/tolvane/tolvane-alerts.yml; do
  [ -f "$work/root/$f" ] || { echo "missing in the package: $f" >&2; exit 1; }
done
[ "$(readlink "$work/root/usr/bin/tolvane")" = /opt/vantorix/Tolvane ] || { echo "/usr/bin/tolvane does not point at Tolvane" >&2; exit 1; }
# Every Qt library the programs link comes from a package the .deb depends on.
depends=$(dpkg-deb -f "$deb" Depends)
needed=$(objdump -p "$work/root/opt/vantorix/Tolvane" "$work/root/opt/vantorix/Krandel" | awk '/NEEDED/ && /libQt6/ {print $2}' | sort -u)
[ -n "$needed" ] || { echo "no Qt library found among the programs' needs" >&2; exit 1; }
for lib in $needed; do
  owner=$(dpkg -S "*/$lib" 2>/dev/null | head -n1 | cut -d: -f1)
  [ -n "$owner" ] || { echo "no installed package holds $lib" >&2; exit 1; }
  [[ ", $depends," == *", $owner "* || ", $depends," == *", $owner,"* ]] ||
    { echo "the package does not depend on $owner, which holds $lib" >&2; exit 1; }
done
version=$("$work/root/opt/vantorix/Tolvane" --version)
[[ "$version" =~ ^[0-9]{4}\.[0-9]{4}\.[0-9]{4}$ ]] || { echo "installed Tolvane answered '$version'" >&2; exit 1; }
echo "package ok: $(basename "$deb"), Tolvane $version"
