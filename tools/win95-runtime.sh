#!/usr/bin/env bash
# Builds the runtime libraries that uinq76.exe links for the processors Windows
# 95 ran on: the start-up code and C library glue of mingw-w64 (crt2.o,
# libmingw32, libmingwex, crtdll.dll's import library as libmsvcrt.a), libgcc
# and the static libstdc++, compiled with -march=i486 from Debian's own sources
# of the compilers installed here. Debian builds them for the Pentium Pro,
# whose CMOV and FCOMI stop the program on a 486 or a Pentium.
#
# The libraries go to one cache folder outside the build tree, built once:
#   ${UINQ_WIN95_RUNTIME:-${XDG_CACHE_HOME:-~/.cache}/uinq76/win95-runtime}
# The win32 preset's toolchain links against them with Debian's compiler
# (-B DIR). The folder holds a stamp naming the sources it was built from; a
# stamp that no longer matches the installed packages means a rebuild.
#
#   bash tools/win95-runtime.sh           build unless the cache is up to date
#   bash tools/win95-runtime.sh --check   exit 0 if up to date, 1 if not
#   bash tools/win95-runtime.sh --force   build again
#
# Needs the packages gcc-12-source, libgmp-dev, libmpfr-dev, libmpc-dev,
# dpkg-dev and Debian's mingw-w64 compilers (tools/dev.sh installs them), and
# the network once, for the mingw-w64 sources: apt-get fetches them with a
# deb-src line of its own for the machine's Debian archive, in the work folder,
# so the machine's apt configuration stays as it is.
set -euo pipefail

target=i686-w64-mingw32
cc=$target-gcc-win32
cxx=$target-g++-win32
arch_flags="-march=i486 -mtune=generic"
# The C runtime of every Windows 95: crtdll.dll (see the README).
crt_define="-D__CRTDLL__"
recipe=1

cache=${UINQ_WIN95_RUNTIME:-${XDG_CACHE_HOME:-$HOME/.cache}/uinq76/win95-runtime}
jobs=${JOBS:-$(nproc)}

mode=build
case "${1:-}" in
  "") ;;
  --check) mode=check ;;
  --force) mode=force ;;
  *) echo "usage: $0 [--check|--force]" >&2; exit 2 ;;
esac

version_of() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null || true; }
stamp="recipe $recipe; gcc-12-source $(version_of gcc-12-source); \
mingw-w64 $(version_of mingw-w64-i686-dev); compiler $(version_of gcc-mingw-w64-i686-win32)"

if [ "$mode" != force ] && [ -f "$cache/stamp" ] && [ "$(cat "$cache/stamp")" = "$stamp" ]; then
  [ "$mode" = check ] || echo "win95 runtime: up to date in $cache"
  exit 0
fi
[ "$mode" = check ] && exit 1

missing=()
for p in gcc-12-source libgmp-dev libmpfr-dev libmpc-dev dpkg-dev \
         gcc-mingw-w64-i686-win32 g++-mingw-w64-i686-win32 mingw-w64-i686-dev; do
  [ -n "$(version_of "$p")" ] || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "win95 runtime: missing packages: ${missing[*]} (bash tools/dev.sh installs them)" >&2
  exit 1
fi

work="$cache.work"
rm -rf "$work"
mkdir -p "$work"
log="$work/build.log"
echo "win95 runtime: building into $cache (log: $log)"
start=$SECONDS
step() { echo "win95 runtime: [$((SECONDS - start))s] $*"; }
trap 'echo "win95 runtime: failed after $((SECONDS - start))s; the last lines of $log:" >&2; tail -n 30 "$log" >&2' ERR
run() { "$@" >>"$log" 2>&1; }

# --- The mingw-w64 runtime, from the source package of the installed headers.
step "fetching the mingw-w64 sources"
mingw_version=$(version_of mingw-w64-i686-dev)
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial" "$work/src"
# A deb-src line for each deb line of the machine's Debian archive (the main
# suite, not -updates or -security), in both formats of sources files.
{
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    sed -n -E "s/^deb +(\[[^]]*\] +)?([^ ]+) +$codename +(.*)$/deb-src \1\2 $codename \3/p" "$f"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk -v suite="$codename" '
      function flush() {
        if (types ~ /(^| )deb( |$)/ && (" " suites " ") ~ (" " suite " "))
          printf "deb-src %s%s %s %s\n", (key != "" ? "[signed-by=" key "] " : ""), uris, suite, comps
        types = uris = suites = comps = key = ""
      }
      /^[ \t]*$/ { flush(); next }
      /^Types:/ { sub(/^Types:[ \t]*/, ""); types = $0 }
      /^URIs:/ { sub(/^URIs:[ \t]*/, ""); uris = $0 }
      /^Suites:/ { sub(/^Suites:[ \t]*/, ""); suites = $0 }
      /^Components:/ { sub(/^Components:[ \t]*/, ""); comps = $0 }
      /^Signed-By:/ { sub(/^Signed-By:[ \t]*/, ""); key = $0 }
      END { flush() }' "$f"
  done
} >"$work/apt/sources.list"
if ! [ -s "$work/apt/sources.list" ]; then
  echo "win95 runtime: no Debian $codename archive in /etc/apt/sources.list(.d)" >&2
  exit 1
fi
apt_options=(-o "Dir::Etc::SourceList=$work/apt/sources.list" -o "Dir::Etc::SourceParts=/nonexistent"
             -o "Dir::State::Lists=$work/apt/lists" -o "Dir::Cache=$work/apt/cache"
             -o "Debug::NoLocking=1" -o "APT::Sandbox::User=root")
run apt-get "${apt_options[@]}" update
(cd "$work/src" && run apt-get "${apt_options[@]}" source "mingw-w64=$mingw_version")
mingw_src=$(echo "$work"/src/mingw-w64-*/)

step "building the mingw-w64 runtime"
mkdir -p "$work/crt"
# Only the libraries a program links: the import libraries of the system's
# DLLs hold no code, and Debian's serve.
crt_files="crt2.o libmingw32.a libmingwex.a libmoldname.a libmsvcrt.a libcrtdll.a"
# The prefix is never installed to: the headers come from the compiler's own
# include folder, which holds the same mingw-w64 version.
(cd "$work/crt" && run "$mingw_src/mingw-w64-crt/configure" --host=$target --prefix="$work/crt-install" \
   --enable-lib32 --disable-lib64 --with-default-msvcrt=crtdll --disable-dependency-tracking \
   CC=$cc CFLAGS="-O2 $arch_flags" && mkdir -p lib32 && run make -j"$jobs" $(printf 'lib32/%s ' $crt_files))

# --- libgcc and libstdc++ from the compiler's sources, as Debian's mingw-w64
# compiler is built: the release tarball without Debian's branch updates (its
# libstdc++ headers carry the release's date stamp).
step "unpacking the GCC sources"
gcc_src="$work/gcc-src"
mkdir -p "$gcc_src"
# The compiler's own test suite and the other languages' libraries are left
# out (the libraries' test suite folders stay: their configure scripts read them).
tar -xJf /usr/src/gcc-12/gcc-12.2.0-dfsg.tar.xz -C "$gcc_src" --strip-components=1 \
    --exclude='gcc-12.2.0/gcc/testsuite' --exclude='gcc-12.2.0/libgo' \
    --exclude='gcc-12.2.0/libphobos' --exclude='gcc-12.2.0/libgfortran' \
    --exclude='gcc-12.2.0/libsanitizer' --exclude='gcc-12.2.0/gcc/ada' \
    --exclude='gcc-12.2.0/libada' --exclude='gcc-12.2.0/gnattools'

# Only the compiler driver and the headers that libgcc's build reads are
# built, not the compiler itself: libgcc and libstdc++ are then configured on
# their own and compiled by Debian's compiler (the same version). The build
# machine's tools need no optimising or debugging information.
step "configuring the compiler's target headers"
gcc_build="$work/gcc-build"
mkdir -p "$gcc_build"
(cd "$gcc_build" && run "$gcc_src/configure" --build=x86_64-linux-gnu --host=x86_64-linux-gnu --target=$target \
   --prefix=/usr --libexecdir=/usr/lib --libdir=/usr/lib --disable-multilib --disable-nls \
   --disable-bootstrap --enable-languages=c,c++ --enable-threads=win32 --disable-sjlj-exceptions \
   --with-dwarf2 --enable-fully-dynamic-string --enable-libstdcxx-time=yes \
   --enable-version-specific-runtime-libs --enable-libstdcxx-filesystem-ts=yes \
   --with-arch=i486 --with-tune=generic --with-as=/usr/bin/$target-as --with-ld=/usr/bin/$target-ld \
   --program-prefix=$target- --program-suffix=-win32 \
   CFLAGS="-O1" CXXFLAGS="-O1")
(cd "$gcc_build" && run make -j"$jobs" configure-gcc all-build-libiberty all-build-libcpp \
   all-libiberty all-libcpp all-libdecnumber all-libbacktrace)
(cd "$gcc_build/gcc" && run make -j"$jobs" xgcc specs libgcc.mvars tconfig.h tm.h options.h \
   insn-constants.h insn-modes.h)

step "building libgcc"
target_cflags="-O2 $arch_flags $crt_define"
# libgcc puts its unwind.h into the compiler's include folder.
mkdir -p "$gcc_build/$target/libgcc" "$gcc_build/gcc/include"
(cd "$gcc_build/$target/libgcc" && run "$gcc_src/libgcc/configure" --build=x86_64-linux-gnu \
   --host=$target --target=$target --with-target-subdir=$target --prefix=/usr --disable-shared \
   --disable-dependency-tracking \
   --enable-threads=win32 --disable-sjlj-exceptions --with-dwarf2 \
   CC=$cc CFLAGS="$target_cflags" && run make -j"$jobs")

# Without the installed compiler's own libstdc++ headers (-nostdinc++): the
# configure tests and the build see the C headers and the library's new
# headers only, as in a build of the whole compiler.
step "building libstdc++"
mkdir -p "$gcc_build/$target/libstdc++-v3"
(cd "$gcc_build/$target/libstdc++-v3" && run "$gcc_src/libstdc++-v3/configure" --build=x86_64-linux-gnu \
   --host=$target --target=$target --with-target-subdir=$target --prefix=/usr --disable-shared \
   --disable-dependency-tracking \
   --enable-static --disable-multilib --disable-nls --enable-threads=win32 --enable-fully-dynamic-string \
   --enable-libstdcxx-time=yes --enable-libstdcxx-filesystem-ts=yes --disable-libstdcxx-pch \
   CC=$cc CXX="$cxx -nostdinc++" CFLAGS="$target_cflags" CXXFLAGS="$target_cflags" \
   && run make -j"$jobs")

# --- The cache: the libraries only, without debug sections.
step "installing into $cache"
rm -rf "$cache.new"
mkdir -p "$cache.new/lib"
for f in $crt_files; do
  cp "$work/crt/lib32/$f" "$cache.new/lib/"
done
cp "$gcc_build/$target/libgcc/"{libgcc.a,crtbegin.o,crtend.o} "$cache.new/lib/"
# Without a shared libgcc, the unwinder is in libgcc.a. The compiler driver
# still links -lgcc_eh: an empty one keeps it from finding Debian's.
$target-ar rc "$cache.new/lib/libgcc_eh.a"
cp "$gcc_build/$target/libstdc++-v3/src/.libs/libstdc++.a" \
   "$gcc_build/$target/libstdc++-v3/libsupc++/.libs/libsupc++.a" "$cache.new/lib/"
$target-strip --strip-debug "$cache.new/lib/"*
# The program is compiled with the installed compiler's libstdc++ headers: the
# library must have been configured as they describe, but for the symbol
# versions of a shared library, which a static one has none of.
debian_config=/usr/lib/gcc/$target/$($cxx -dumpversion)/include/c++/$target/bits/c++config.h
symvers='_GLIBCXX_(SYMVER|SYMVER_GNU|HAVE_SYMVER_SYMBOL_RENAMING_RUNTIME_SUPPORT|HAVE_EXCEPTION_PTR_SINCE_GCC46)\b'
if ! diff -u <(grep -Ev "$symvers" "$debian_config") \
     <(grep -Ev "$symvers" "$gcc_build/$target/libstdc++-v3/include/$target/bits/c++config.h") \
     >"$work/c++config.diff"; then
  echo "win95 runtime: libstdc++ is configured otherwise than the compiler's headers say:" >&2
  cat "$work/c++config.diff" >&2
  exit 1
fi
echo "$stamp" >"$cache.new/stamp"
rm -rf "$cache"
mv "$cache.new" "$cache"
trap - ERR
rm -rf "$work"
step "done: $(du -sh "$cache" | cut -f1) in $cache"
