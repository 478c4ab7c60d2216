#!/usr/bin/env bash
# Uses the library as another project would, from a build folder that is
# already built:
#   1. installs it to a temporary prefix; `pkg-config tarsel` resolves there and
#      reports the header's version; find_package(Tarsel 1) is refused;
#   2. builds the examples against the installed copy with find_package and
#      with pkg-config, and runs both sets (run-examples.sh);
#   3. builds the examples with Tarsel's sources added by add_subdirectory;
#   4. makes the Debian package with CPack and checks its files and FFmpeg
#      dependencies, and that find_package works in its unpacked tree.
# Usage: scripts/install/test.sh BUILD_DIR [WORK_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?usage: test.sh BUILD_DIR [WORK_DIR]}" && pwd)
work=${2:-$build/install-test}
jobs=${JOBS:-$(nproc)}
fail() { echo "install test: $*" >&2; exit 1; }
step() { echo "-- $*"; }

rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix

step "cmake --install into $prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log"
for file in include/tarsel.h lib/libtarsel.so lib/cmake/Tarsel/TarselConfig.cmake \
            lib/cmake/Tarsel/TarselConfigVersion.cmake lib/pkgconfig/tarsel.pc bin/tarsel; do
  [[ -e $prefix/$file ]] || fail "the install lacks $file"
done
soname=$(objdump -p "$prefix/lib/libtarsel.so" | awk '/SONAME/ {print $2}')
[[ $soname =~ ^libtarsel\.so\.[0-9]+$ && -e $prefix/lib/$soname ]] ||
  fail "libtarsel.so has SONAME '$soname', not an installed libtarsel.so.MAJOR"
"$prefix/bin/tarsel" >/dev/null 2>&1 || [[ $? -ne 127 ]] || fail "the installed tool does not start"

step "pkg-config"
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig${PKG_CONFIG_PATH:+:$PKG_CONFIG_PATH}
flags=$(pkg-config --cflags --libs tarsel) || fail "pkg-config tarsel does not resolve"
[[ $flags == *-ltarsel* ]] || fail "pkg-config --libs lacks -ltarsel: $flags"
header_version=$(awk '/#define TARSEL_VERSION_(MAJOR|MINOR|PATCH)/ {v = v sep $3; sep = "."} END {print v}' \
                 "$prefix/include/tarsel.h")
[[ $(pkg-config --modversion tarsel) == "$header_version" ]] ||
  fail "pkg-config reports $(pkg-config --modversion tarsel), the header $header_version"

step "find_package refuses another major version"
mkdir -p "$work/major"
cat >"$work/major/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.16)
project(major_check C)
find_package(Tarsel \${WANTED} REQUIRED)
CMAKE
major=${header_version%%.*}
cmake -S "$work/major" -B "$work/major/same" -DCMAKE_PREFIX_PATH="$prefix" \
  -DWANTED="$major" >"$work/major/same.log" 2>&1 ||
  fail "find_package(Tarsel $major) fails: $(tail -5 "$work/major/same.log")"
if cmake -S "$work/major" -B "$work/major/next" -DCMAKE_PREFIX_PATH="$prefix" \
     -DWANTED="$((major + 1))" >"$work/major/next.log" 2>&1; then
  fail "find_package(Tarsel $((major + 1))) accepted version $header_version"
fi

step "examples with find_package"
cmake -S "$root/examples" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" >"$work/cmake.log"
cmake --build "$work/cmake" -j"$jobs" >>"$work/cmake.log" || { cat "$work/cmake.log"; fail "build failed"; }
mkdir -p "$work/cmake/bin"
cp "$work"/cmake/*/{read_frames,read_audio,write_ffv1} "$work/cmake/bin/"
bash "$root/scripts/install/run-examples.sh" "$work/run-cmake" "$work/cmake/bin"

step "examples with pkg-config"
cp -r "$root/examples" "$work/make"
make -C "$work/make" -s CFLAGS="-O2 -Wall -Wextra -Werror" >"$work/make.log" 2>&1 ||
  { cat "$work/make.log"; fail "make failed"; }
mkdir -p "$work/make/bin"
cp "$work"/make/*/{read_frames,read_audio,write_ffv1} "$work/make/bin/"
LD_LIBRARY_PATH=$prefix/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH} \
  bash "$root/scripts/install/run-examples.sh" "$work/run-make" "$work/make/bin"

step "examples with Tarsel added by add_subdirectory"
cmake -S "$root/examples" -B "$work/subdirectory" -DTARSEL_SOURCE_DIR="$root" \
  -DCMAKE_BUILD_TYPE=Release >"$work/subdirectory.log"
cmake --build "$work/subdirectory" -j"$jobs" --target write_ffv1 >>"$work/subdirectory.log" ||
  { tail -30 "$work/subdirectory.log"; fail "build failed"; }
"$work/subdirectory/write_ffv1/write_ffv1" "$work/subdirectory/clip.mkv" 2 >/dev/null ||
  fail "write_ffv1 built with add_subdirectory failed"

step "Debian package"
(cd "$build" && cpack -G DEB -B "$work/deb" >"$work/deb.log" 2>&1) || { cat "$work/deb.log"; fail "cpack failed"; }
deb=$(ls "$work"/deb/*.deb)
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for pattern in '/usr/lib/.*libtarsel\.so\.[0-9]+$' '/usr/include/tarsel\.h$' '/usr/bin/tarsel$' \
               '/TarselConfig\.cmake$' '/pkgconfig/tarsel\.pc$'; do
  grep -Eq "$pattern" <<<"$contents" || fail "$(basename "$deb") lacks $pattern"
done
depends=$(dpkg-deb -f "$deb" Depends)
for library in libavcodec libavformat libavutil libswscale libswresample; do
  grep -Eq "(^|, )$library[0-9]+" <<<"$depends" || fail "the package does not depend on $library: $depends"
done
dpkg-deb -x "$deb" "$work/deb/root"
cmake -S "$work/major" -B "$work/deb/find" -DCMAKE_PREFIX_PATH="$work/deb/root/usr" \
  -DWANTED="$major" >"$work/deb/find.log" 2>&1 || fail "find_package fails in the package's tree"
echo "install test: passed ($(basename "$deb"): Depends: $depends)"
