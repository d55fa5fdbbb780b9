#!/usr/bin/env bash
# Fetches qemu's user-mode emulator of 32-bit x86 (qemu-i386) from Debian's
# bookworm-backports, for running Wine where the kernel does not run 32-bit
# programs itself. Debian 12's own qemu-user-static (7.2) searches the whole
# guest address space page by page on every mmap, and Wine under it takes a
# minute per process; the backported qemu (10.x) runs it 50 to 100 times
# faster. The package's qemu-i386 is a static binary with no dependencies.
#
# The emulator goes to one cache folder outside the build tree, beside the
# win95 runtime's:
#   ${UINQ_QEMU_USER:-${XDG_CACHE_HOME:-~/.cache}/uinq76/qemu-user}/qemu-i386
# with a stamp naming the package version it came from. apt-get fetches the
# package with a sources list and state of its own in a work folder, so the
# machine's apt configuration stays as it is.
#
#   bash tools/qemu-user.sh           fetch unless the cache is up to date
#   bash tools/qemu-user.sh --check   exit 0 if up to date, 1 if not
#   bash tools/qemu-user.sh --force   fetch again (a newer backport, say)
#   bash tools/qemu-user.sh --path    print the emulator's path
#
# Needs dpkg-deb, apt-get, Debian's archive key and the network once.
set -euo pipefail

suite=bookworm-backports
mirror=${UINQ_DEBIAN_MIRROR:-http://deb.debian.org/debian}
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
# The oldest qemu that runs Wine fast enough: 7.2 does not.
min_major=10
recipe=1

cache=${UINQ_QEMU_USER:-${XDG_CACHE_HOME:-$HOME/.cache}/uinq76/qemu-user}

mode=fetch
case "${1:-}" in
  "") ;;
  --check) mode=check ;;
  --force) mode=force ;;
  --path) echo "$cache/qemu-i386"; exit 0 ;;
  *) echo "usage: $0 [--check|--force|--path]" >&2; exit 2 ;;
esac

# Up to date: the stamp of this recipe, and the emulator there runs and is the
# version the stamp names.
up_to_date() {
  [ -f "$cache/stamp" ] && [ -x "$cache/qemu-i386" ] || return 1
  local stamp version
  stamp=$(cat "$cache/stamp")
  version=${stamp#"recipe $recipe; qemu-user "}
  [ "$version" != "$stamp" ] || return 1
  "$cache/qemu-i386" --version 2>/dev/null | head -n 1 | grep -qF "(Debian $version)"
}

if [ "$mode" != force ] && up_to_date; then
  [ "$mode" = check ] || echo "qemu-user: up to date in $cache ($(cat "$cache/stamp"))"
  exit 0
fi
[ "$mode" = check ] && exit 1

for tool in apt-get dpkg-deb; do
  command -v "$tool" >/dev/null || { echo "qemu-user: $tool is missing" >&2; exit 1; }
done
if ! [ -f "$keyring" ]; then
  echo "qemu-user: $keyring is missing (package debian-archive-keyring)" >&2
  exit 1
fi

work="$cache.work"
rm -rf "$work"
mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial" "$work/deb"
trap 'rm -rf "$work"' EXIT
echo "deb [signed-by=$keyring] $mirror $suite main" >"$work/apt/sources.list"
apt_options=(-o "Dir::Etc::SourceList=$work/apt/sources.list" -o "Dir::Etc::SourceParts=/nonexistent"
             -o "Dir::State::Lists=$work/apt/lists" -o "Dir::Cache=$work/apt/cache"
             -o "Dir::State::Status=/dev/null" -o "APT::Architectures=amd64"
             -o "Debug::NoLocking=1" -o "APT::Sandbox::User=root")
echo "qemu-user: fetching qemu-user from $suite"
if ! apt-get "${apt_options[@]}" -qq update >"$work/apt.log" 2>&1; then
  echo "qemu-user: apt-get update of $suite failed:" >&2
  tail -n 20 "$work/apt.log" >&2
  exit 1
fi
version=$(apt-cache "${apt_options[@]}" show qemu-user 2>/dev/null |
          sed -n 's/^Version: //p' | sort -V | tail -n 1)
if [ -z "$version" ]; then
  echo "qemu-user: $suite has no qemu-user package" >&2
  exit 1
fi
upstream=${version#*:}
if [ "${upstream%%.*}" -lt "$min_major" ]; then
  echo "qemu-user: $suite has qemu-user $version; at least $min_major is needed" >&2
  exit 1
fi
if ! (cd "$work/deb" && apt-get "${apt_options[@]}" -qq download "qemu-user=$version") \
     >>"$work/apt.log" 2>&1; then
  echo "qemu-user: downloading qemu-user $version failed:" >&2
  tail -n 20 "$work/apt.log" >&2
  exit 1
fi
deb=$(echo "$work"/deb/qemu-user_*.deb)
dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$work" ./usr/bin/qemu-i386
if ! "$work/usr/bin/qemu-i386" --version >/dev/null 2>&1; then
  echo "qemu-user: the qemu-i386 of qemu-user $version does not run here" >&2
  exit 1
fi

rm -rf "$cache.new"
mkdir -p "$cache.new"
cp "$work/usr/bin/qemu-i386" "$cache.new/qemu-i386"
echo "recipe $recipe; qemu-user $version" >"$cache.new/stamp"
rm -rf "$cache"
mv "$cache.new" "$cache"
echo "qemu-user: $("$cache/qemu-i386" --version | head -n 1) in $cache"
