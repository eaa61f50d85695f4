#!/usr/bin/env bash
# tests/packages/check.sh BUILD_DIR: checks the packages that cpack made in BUILD_DIR (see
# cmake/packaging.cmake): each Debian package's metadata and contents, lintian without errors,
# the archive's contents; then unpacks the Debian packages into a temporary root and builds and
# runs the outside consumers against what they installed.
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
major=${version%%.*}
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# package | what its control file must say | files it must hold
expect() {
  local package=$1 control=$2 files=$3 deb
  deb=$build/${package}_${version}_${arch}.deb
  [ -f "$deb" ] || { echo "missing package: $deb"; exit 1; }
  dpkg-deb --info "$deb" >"$work/info"
  dpkg-deb --contents "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$work/contents"
  while IFS= read -r line; do
    grep -qF -- "$line" "$work/info" || { echo "$package: control lacks '$line'"; cat "$work/info"; exit 1; }
  done <<<"$control"
  for file in $files /usr/share/doc/$package/copyright /usr/share/doc/$package/changelog.gz; do
    grep -qx -- "$file" "$work/contents" || { echo "$package: lacks $file"; cat "$work/contents"; exit 1; }
  done
  dpkg-deb --fsys-tarfile "$deb" | tar -xO "./usr/share/doc/$package/copyright" >"$work/copyright"
  grep -q "License: MIT" "$work/copyright"
  # The Debian changelog points to the project's changelog, which the package must ship.
  dpkg-deb --fsys-tarfile "$deb" | tar -xO "./usr/share/doc/$package/changelog.gz" | gzip -dc \
    >"$work/changelog"
  grep -q "/usr/share/doc/$package/CHANGELOG.md.gz" "$work/changelog" ||
    { echo "$package: the changelog names no shipped file"; cat "$work/changelog"; exit 1; }
  grep -qx -- "/usr/share/doc/$package/CHANGELOG.md.gz" "$work/contents" ||
    { echo "$package: lacks the CHANGELOG.md.gz its changelog names"; exit 1; }
  # No placeholder address or home page in the metadata.
  ! grep -n "example\.org" "$work/info" || { echo "$package: a placeholder in its metadata"; exit 1; }
  printf '%-34s %6s bytes\n' "$(basename "$deb")" "$(stat -c %s "$deb")"
}
lib=/usr/lib/$multiarch
expect "libimagefiles$major" "Package: libimagefiles$major
Section: libs
Depends: libc6" "$lib/libimagefiles.so.$major $lib/libimagefiles.so.$version"
expect libimagefiles-dev "Package: libimagefiles-dev
Section: libdevel
Depends: libimagefiles$major (= $version)" "/usr/include/imagefiles/imagefiles.h $lib/libimagefiles.so \
$lib/pkgconfig/imagefiles.pc $lib/cmake/imagefiles/imagefilesConfig.cmake /usr/share/man/man3/imagefiles.3.gz"
expect imagefiles-tools "Package: imagefiles-tools
Section: graphics
Depends: libimagefiles$major (= $version)" "/usr/bin/test_grey /usr/share/man/man1/test_grey.1.gz \
/usr/bin/seuiller /usr/share/man/man1/seuiller.1.gz /usr/bin/evaluer /usr/share/man/man1/evaluer.1.gz"
# The library package says which package provides the SONAME, and runs ldconfig by trigger.
# (Listings go to files first: grep -q leaving a pipe early would fail the pipeline.)
dpkg-deb --ctrl-tarfile "$build/libimagefiles${major}_${version}_${arch}.deb" | tar -xO ./shlibs \
  >"$work/shlibs"
grep -q "^libimagefiles $major libimagefiles$major" "$work/shlibs"

lintian --fail-on error "$build"/*_"${version}"_"${arch}".deb
echo "lintian: no errors"

archive=$build/imagefiles-$version-Linux-$(uname -m).tar.gz
tar -tzf "$archive" >"$work/archive"
for file in bin/test_grey bin/seuiller "lib/$multiarch/libimagefiles.so.$version" \
  include/imagefiles/imagefiles.h "lib/$multiarch/pkgconfig/imagefiles.pc"; do
  grep -qx "imagefiles-$version-Linux-$(uname -m)/$file" "$work/archive" ||
    { echo "archive lacks $file"; exit 1; }
done
printf '%-34s %6s bytes\n' "$(basename "$archive")" "$(stat -c %s "$archive")"

for deb in "$build"/*_"${version}"_"${arch}".deb; do dpkg-deb -x "$deb" "$work/root"; done
"$here/../consumer/run.sh" "$build" "$work/root/usr"
echo "packages unpacked into a temporary root: the consumers built and ran against them"
