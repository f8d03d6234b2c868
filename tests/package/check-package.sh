#!/usr/bin/env bash
# The Debian package as a user gets it, made by CPack from this build: the program, its tools, the
# desktop entry, the icon and the prompts under /usr, no test server, the libraries it links as
# dependencies, and a self-check that passes from a root it was unpacked into.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack"; }
deb=$(echo "$work"/out/murmelo_*.deb)
files=$(dpkg-deb -c "$deb" | awk '{print $6}')
for file in bin/murmelo bin/murmelo-selfcheck bin/murmelo-eval share/applications/com.murmelo.Murmelo.desktop \
  share/icons/hicolor/scalable/apps/com.murmelo.Murmelo.svg \
  share/murmelo/Murmelo_MurmeloCore.bundle/Prompts/smart_dictation_zh.md; do
  grep -qx "./usr/$file" <<<"$files" || fail "the package lacks /usr/$file"
done
! grep -q "fake-services" <<<"$files" || fail "the package holds the test server"

depends=$(dpkg-deb -f "$deb" Depends)
for package in libqt6widgets6 libqt6websockets6 libsecret-1-0 libpulse0 libxcb-xtest0 libwayland-client0 \
  qt6-qpa-plugins; do
  grep -Eq "(^|, )$package( |,|$)" <<<"$depends" || fail "no dependency on $package: $depends"
done
echo "Depends: $depends"

dpkg-deb -x "$deb" "$work/root"
grep -qx "Exec=/usr/bin/murmelo" "$work/root/usr/share/applications/com.murmelo.Murmelo.desktop" ||
  fail "the desktop entry does not start /usr/bin/murmelo"
mkdir -p "$work/home" "$work/runtime"
chmod 700 "$work/runtime"
output=$(env HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share" \
  XDG_RUNTIME_DIR="$work/runtime" PULSE_SERVER="unix:$work/no-server" QT_QPA_PLATFORM=offscreen \
  "$work/root/usr/bin/murmelo-selfcheck") || fail "the unpacked self-check failed: $output"
grep -qx "提示词资源：$work/root/usr/share/murmelo/Murmelo_MurmeloCore.bundle" <<<"$output" ||
  fail "the unpacked self-check did not use its own prompts: $output"
grep -q "全部 10 项自检通过。" <<<"$output" || fail "$output"
echo "package $(du -k "$deb" | cut -f1) KiB: passed"
