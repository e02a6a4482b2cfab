#!/usr/bin/env bash
# Runs the README's test command on a pristine Debian 12: a debootstrap chroot made from nothing but
# Debian's archive (through the mirror apt already uses on this machine), with the committed tree
# copied in, and tools/test.sh run there as root. Prints how long the test command took.
# Needs root. The chroot stays for inspection (and a second run reuses nothing of it: it is made
# afresh each time).
# Usage: tools/pristine-check.sh [--enter-only] [CHROOT_DIR]
#   --enter-only   make the chroot, copy the tree in and check that commands run inside, then stop
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
enter_only=
if [[ ${1:-} == --enter-only ]]; then
    enter_only=1
    shift
fi
root=${1:-/var/tmp/ferrolyn-pristine}
release=bookworm

[[ $(id -u) -eq 0 ]] || { echo "pristine-check: needs root (debootstrap, chroot, mount)" >&2; exit 1; }
export DEBIAN_FRONTEND=noninteractive
if ! command -v debootstrap >/dev/null; then
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends debootstrap
fi

# The mirror this machine's apt takes the release from; Debian's own where it has none.
mirror=$(apt-get indextargets --format '$(RELEASE) $(REPO_URI)' 2>/dev/null |
         awk -v release="$release" '$1 == release {print $2; exit}')
mirror=${mirror:-http://deb.debian.org/debian/}

mounted=()
cleanup() {
    local i
    # tools/install-deps.sh mounts binfmt_misc inside when it is missing there.
    umount -l "$root/proc/sys/fs/binfmt_misc" 2>/dev/null || true
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
        umount -l "${mounted[i]}" 2>/dev/null || true
    done
}
trap cleanup EXIT

if [[ -e $root ]]; then
    # Never remove a folder that is not a chroot of ours.
    [[ -f $root/.ferrolyn-pristine ]] || { echo "pristine-check: $root exists and is not ours" >&2; exit 1; }
    for m in "$root"/{proc/sys/fs/binfmt_misc,proc,sys,dev/pts,dev}; do umount -l "$m" 2>/dev/null || true; done
    rm -rf --one-file-system "$root"
fi
mkdir -p "$root"
echo "== debootstrap $release from $mirror into $root"
start=$(date +%s)
debootstrap --variant=minbase "$release" "$root" "$mirror"
touch "$root/.ferrolyn-pristine"
echo "debootstrap took $(($(date +%s) - start)) s"

# The same archive for security updates as a fresh installation has.
security=$(apt-get indextargets --format '$(RELEASE) $(REPO_URI)' 2>/dev/null |
           awk -v release="$release-security" '$1 == release {print $2; exit}')
security=${security:-http://deb.debian.org/debian-security/}
cat >"$root/etc/apt/sources.list" <<SOURCES
deb $mirror $release main
deb $mirror $release-updates main
deb $security $release-security main
SOURCES
cp /etc/resolv.conf "$root/etc/resolv.conf"

for m in proc sys dev dev/pts; do mkdir -p "$root/$m"; done
mount -t proc proc "$root/proc" && mounted+=("$root/proc")
mount -t sysfs sysfs "$root/sys" && mounted+=("$root/sys")
mount --bind /dev "$root/dev" && mounted+=("$root/dev")
mount -t devpts devpts "$root/dev/pts" -o newinstance,ptmxmode=0666 && mounted+=("$root/dev/pts")

# The committed tree, as a clone would have it: no build folders, nothing uncommitted.
mkdir -p "$root/src/ferrolyn"
git -C "$top" archive --format=tar HEAD | tar -x -C "$root/src/ferrolyn"
echo "tree: $(git -C "$top" rev-parse --short HEAD) copied to $root/src/ferrolyn"

in_chroot() {
    chroot "$root" /usr/bin/env -i HOME=/root TERM="${TERM:-dumb}" LC_ALL=C.UTF-8 \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin /bin/bash -c "$1"
}

echo "== inside: $(in_chroot '. /etc/os-release && echo "$PRETTY_NAME, $(dpkg --print-architecture), $(dpkg-query -W -f="\${binary:Package}\n" | wc -l) packages"')"
if [[ -n $enter_only ]]; then
    echo "pristine-check: the chroot is ready and commands run inside; not running the test command (--enter-only)"
    exit 0
fi

echo "== the README's test command (.ci/run: tools/test.sh) in the chroot"
start=$(date +%s)
status=0
in_chroot 'cd /src/ferrolyn && .ci/run' || status=$?
elapsed=$(($(date +%s) - start))
printf 'pristine-check: the test command %s after %d min %02d s\n' \
    "$([[ $status -eq 0 ]] && echo passed || echo "FAILED (status $status)")" $((elapsed / 60)) $((elapsed % 60))
exit "$status"
