#!/usr/bin/env bash
# Builds the Debian package of the command-line tool, ferrolyn_VERSION_ARCH.deb, from a built
# binary: the tool, its man page ferrolyn(1), bash completion, copyright and changelog.
# Reproducible: every time in the package is SOURCE_DATE_EPOCH (default: the commit's time), the
# files go in in a fixed order owned by root, and the binary is stripped of what varies.
# Usage: tools/package-debian.sh FERROLYN_BINARY VERSION OUT_DIR
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
[[ $# -eq 3 ]] || { echo "usage: $0 FERROLYN_BINARY VERSION OUT_DIR" >&2; exit 2; }
binary=$1
version=$2
out=$3
package=$top/tools/package
# The commit's time; in a copy of the tree without git (as git archive makes it), the time its files
# carry, which git archive sets to the commit's.
if [[ -z ${SOURCE_DATE_EPOCH:-} ]]; then
    SOURCE_DATE_EPOCH=$(git -C "$top" log -1 --format=%ct 2>/dev/null) ||
        SOURCE_DATE_EPOCH=$(stat -c %Y "$top/CMakeLists.txt")
fi
[[ $SOURCE_DATE_EPOCH =~ ^[0-9]+$ ]] || { echo "package-debian: SOURCE_DATE_EPOCH is not a number" >&2; exit 1; }
export SOURCE_DATE_EPOCH
export TZ=UTC LC_ALL=C.UTF-8
architecture=$(dpkg --print-architecture)

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
root=$stage/root
umask 022
install -d "$root/DEBIAN" "$root/usr/bin" "$root/usr/share/man/man1" "$root/usr/share/doc/ferrolyn" \
    "$root/usr/share/bash-completion/completions"
install -m 0755 "$binary" "$root/usr/bin/ferrolyn"
strip --strip-unneeded --remove-section=.comment --remove-section=.note "$root/usr/bin/ferrolyn"

sed -e "s/@VERSION@/$version/" -e "s/@DATE@/$(date -d "@$SOURCE_DATE_EPOCH" +%Y-%m-%d)/" "$package/ferrolyn.1" |
    gzip -9n > "$root/usr/share/man/man1/ferrolyn.1.gz"
install -m 0644 "$package/ferrolyn.bash-completion" "$root/usr/share/bash-completion/completions/ferrolyn"
install -m 0644 "$package/debian/copyright" "$root/usr/share/doc/ferrolyn/copyright"
sed -e "s/@VERSION@/$version/" -e "s/@CHANGELOG_DATE@/$(date -R -d "@$SOURCE_DATE_EPOCH")/" \
    "$package/debian/changelog.in" | gzip -9n > "$root/usr/share/doc/ferrolyn/changelog.gz"
chmod 0644 "$root/usr/share/man/man1/ferrolyn.1.gz" "$root/usr/share/doc/ferrolyn/changelog.gz"

# The libraries the binary needs, with the versions it was linked against, as dpkg-shlibdeps
# finds them; it wants a debian/control to read.
mkdir -p "$stage/shlibs/debian"
printf 'Source: ferrolyn\n\nPackage: ferrolyn\nArchitecture: any\n' > "$stage/shlibs/debian/control"
depends=$(cd "$stage/shlibs" && dpkg-shlibdeps -O "$root/usr/bin/ferrolyn" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
[[ -n $depends ]] || { echo "package-debian: dpkg-shlibdeps found no dependencies" >&2; exit 1; }
installed_size=$(du -sk --apparent-size --exclude=DEBIAN "$root" | cut -f1)
sed -e "s/@VERSION@/$version/" -e "s/@ARCHITECTURE@/$architecture/" -e "s/@INSTALLED_SIZE@/$installed_size/" \
    -e "s/@DEPENDS@/$depends/" "$package/debian/control.in" > "$root/DEBIAN/control"
(cd "$root" && find usr -type f | sort | xargs md5sum) > "$root/DEBIAN/md5sums"
chmod 0644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"
find "$root" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

mkdir -p "$out"
deb=$out/ferrolyn_${version}_${architecture}.deb
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" > /dev/null
echo "$deb"
