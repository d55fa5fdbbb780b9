#!/usr/bin/env bash
# Checks the Debian package that `make package` builds:
#   tests/package/check_package.sh uinq76_<version>_amd64.deb
# what it holds, its dependencies, that the desktop entry, the metainfo and the
# man page pass their validators, and that the program it installs runs: its
# --help, and a whole uninstall in text mode on the demo machine it comes with.
set -euo pipefail

if [ "$#" -ne 1 ] || [ ! -f "$1" ]; then
  echo "usage: check_package.sh PACKAGE.deb (one existing file)" >&2
  exit 2
fi
deb=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/uinq-package-XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

echo "== $deb"
case "$(basename "$deb")" in
  uinq76_*_amd64.deb) ;;
  *) fail "the file name is not uinq76_<version>_amd64.deb" ;;
esac

# What the package holds.
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$work/contents"
for path in \
  /usr/bin/uinq76 \
  /usr/bin/uinq76-demo-machine \
  /usr/share/man/man1/uinq76.1.gz \
  /usr/share/man/man1/uinq76-demo-machine.1.gz \
  /usr/share/applications/com.vesk.uinq76.desktop \
  /usr/share/metainfo/com.vesk.uinq76.metainfo.xml \
  /usr/share/doc/uinq76/copyright \
  /usr/share/doc/uinq76/changelog.gz \
  /usr/share/icons/hicolor/16x16/apps/uinq76.png \
  /usr/share/icons/hicolor/48x48/apps/uinq76.png \
  /usr/share/icons/hicolor/256x256/apps/uinq76.png; do
  grep -qxF "$path" "$work/contents" || fail "the package lacks $path"
done
# Nothing of the build's own: no tests, benchmarks or build tools.
if grep -E 'test|bench|icon_png|\.a$|/include/' "$work/contents"; then
  fail "the package holds files of the build"
fi

# Control fields: the dependencies come from the linked libraries.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libc6 libstdc++6 libqt6widgets6 libqt6gui6 libqt6core6; do
  [[ "$depends" == *"$lib "* || "$depends" == *"$lib," || "$depends" == *"$lib" ]] ||
    fail "Depends does not name $lib"
done
[ "$(dpkg-deb -f "$deb" Package)" = uinq76 ] || fail "the package is not named uinq76"
[ "$(dpkg-deb -f "$deb" Architecture)" = amd64 ] || fail "the architecture is not amd64"

dpkg-deb -x "$deb" "$work/root"
root=$work/root

# Icons: PNG files of the size their folder says.
for size in 16 22 24 32 48 64 128 256; do
  png=$root/usr/share/icons/hicolor/${size}x${size}/apps/uinq76.png
  description=$(file -b "$png")
  [[ "$description" == "PNG image data, $size x $size,"* ]] ||
    fail "icon ${size}x${size}: $description"
done

# Debian's own package checker: no error and no warning. The version in the
# changelog must be the package's.
lintian_status=0
lintian_out=$(lintian --fail-on error,warning "$deb" 2>&1) || lintian_status=$?
lintian_out=$(grep -v 'running with root privileges' <<<"$lintian_out" || true)
[ -z "$lintian_out" ] || echo "$lintian_out"
[ "$lintian_status" -eq 0 ] || fail "lintian finds errors or warnings (status $lintian_status)"
changelog_version=$(zcat "$root/usr/share/doc/uinq76/changelog.gz" | sed -n '1s/^uinq76 (\([^)]*\)).*/\1/p')
[ "$changelog_version" = "$(dpkg-deb -f "$deb" Version)" ] ||
  fail "the changelog's version ($changelog_version) is not the package's"

# The licence: MIT, in Debian's machine-readable copyright form.
copyright=$root/usr/share/doc/uinq76/copyright
head -1 "$copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  fail "the copyright file is not in Debian's machine-readable form"
grep -qx 'License: Expat' "$copyright" || fail "the copyright file does not grant the MIT (Expat) licence"
grep -q '<project_license>MIT</project_license>' "$root/usr/share/metainfo/com.vesk.uinq76.metainfo.xml" ||
  fail "the metainfo does not name the MIT licence"

desktop-file-validate "$root/usr/share/applications/com.vesk.uinq76.desktop" ||
  fail "desktop-file-validate refuses the desktop entry"
appstreamcli validate --no-net --pedantic "$root/usr/share/metainfo/com.vesk.uinq76.metainfo.xml" ||
  fail "appstreamcli refuses the metainfo"

# The man page renders without a warning, with its sections.
man_warnings=$(MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/uinq76.1.gz" 2>&1 >/dev/null)
[ -z "$man_warnings" ] || fail "man warns: $man_warnings"
MANWIDTH=80 man -l "$root/usr/share/man/man1/uinq76.1.gz" 2>/dev/null >"$work/man.txt"
for section in NAME SYNOPSIS OPTIONS "THE MACHINE DIRECTORY" "EXIT STATUS" FILES EXAMPLES; do
  grep -qx "$section" "$work/man.txt" || fail "the man page has no $section section"
done
for option in --machine --ui --on-shutdown --help --version; do
  grep -q -- "$option" "$work/man.txt" || fail "the man page does not describe $option"
done

# The installed program runs.
bin=$root/usr/bin
if ! "$bin/uinq76" --help >"$work/help.txt" 2>&1; then
  fail "uinq76 --help failed"
fi
grep -q '^Usage: uinq76 ' "$work/help.txt" || fail "uinq76 --help: $(head -1 "$work/help.txt")"

"$bin/uinq76-demo-machine" "$work/machine" >/dev/null || fail "uinq76-demo-machine failed"
grep -q 'KivraQ76' "$work/machine/registry.reg" || fail "the demo machine lacks the product"
status=0
printf 'y\n\n' | timeout 60 "$bin/uinq76" --machine "$work/machine" --ui text \
  >"$work/run.txt" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "the uninstall on the demo machine ended with status $status"
if grep -q 'KivraQ76' "$work/machine/registry.reg"; then
  fail "the uninstall left the product key in the registry"
fi
grep -q 'UINQ76D.EXE' "$work/machine/drive_c/AUTOEXEC.BAT" ||
  fail "the uninstall did not place the remover in AUTOEXEC.BAT"

if [ "$failures" -ne 0 ]; then
  echo "== Output of the uninstall run:" >&2
  cat "$work/run.txt" >&2
  echo "$failures check(s) of the package failed" >&2
  exit 1
fi
echo "The package holds what it should, passes its validators and runs."
