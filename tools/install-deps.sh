#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, only those that are missing, so a
# second run is quick. Needs root (apt-get).
set -euo pipefail

# Every tool the scripts call: cmake with make, and ninja for tools/fuzz.sh; clang and its libFuzzer
# runtime; file and objdump (binutils) for tools/check-pe-imports.sh; flock and mount
# (util-linux, mount) for tools/wine-run.sh and the emulator set-up below; python3 for
# tools/check-pe-version.py.
packages=(cmake g++ make ninja-build pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev
          libssl-dev libgcrypt20-dev clang libclang-rt-14-dev binutils util-linux mount python3)
# The Windows build and its tests: the MinGW-w64 cross compiler, 32-bit Wine with its own fonts and
# the X libraries it renders with, Xvfb for the GUI tests, ImageMagick for their screenshots.
packages+=(mingw-w64 wine wine32:i386 fonts-wine libxrender1:i386 libxcursor1:i386 libxi6:i386
           libxrandr2:i386 libxinerama1:i386 libxcomposite1:i386 libxfixes3:i386 xvfb imagemagick file)
# The Debian package of the tool: dpkg-shlibdeps (dpkg-dev) for its dependencies, lintian to check
# it, man to render its man page. The Windows packages: makensis builds the installer
# (tools/package-windows.sh).
packages+=(dpkg-dev lintian man-db nsis)
# On x86-64 also the 64-bit Wine, whose native wineserver serves the 32-bit programs. Where those
# are emulated (see below) it is needed, since QEMU does not emulate ptrace, and whether they are
# emulated cannot always be told from inside a chroot or container; elsewhere it does no harm.
if [[ $(dpkg --print-architecture) == amd64 ]]; then
    packages+=(wine64)
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done

if ((${#missing[@]} > 0)); then
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    # 32-bit Wine comes from the i386 architecture.
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Wine's 32-bit side (its loader, wineserver) is made of 32-bit Linux programs, which some x86-64
# kernels cannot run at all ("Exec format error": no IA32 emulation, as under some hypervisors).
# There QEMU's user-mode emulator runs them, registered with binfmt_misc for 32-bit x86 ELF files,
# and the native wineserver of Debian's 64-bit Wine serves them. It has to be QEMU 9.1 or later:
# older ones track guest memory page by page and spend a minute of CPU starting each Wine process
# (a new prefix took 24 minutes instead of half of one), and before 9.1 Debian's static build is
# another package. A release whose own QEMU is older gets it from its backports. Nothing of this
# happens where the kernel runs 32-bit programs itself.
binfmt=/proc/sys/fs/binfmt_misc
i386_entry=$binfmt/qemu-i386
i386_probe=/usr/lib/wine/wineserver32
# The registration QEMU's package ships for 32-bit x86 ELF files (magic, mask, its emulator and the
# flags O, P and F). Debian leaves it switched off where the machine is x86-64, as such kernels
# normally run those files themselves.
i386_conf=/usr/share/qemu/binfmt.d/qemu-i386.conf

# apt-get install, after one apt-get update in this run.
apt_updated=
apt_install() {
    export DEBIAN_FRONTEND=noninteractive
    [[ -n $apt_updated ]] || apt-get update -qq
    apt_updated=1
    apt-get install -y -qq --no-install-recommends "$@"
}

i386_runs() {
    timeout 60 "$i386_probe" --version >/dev/null 2>&1
}

# Does the kernel run 32-bit programs itself? An emulator registered earlier (binfmt_misc comes
# before the kernel's own loader) is switched off for the look and then put back as it was.
kernel_runs_i386() {
    local result=1 was_enabled=
    if [[ -e $i386_entry ]] && grep -qx enabled "$i386_entry"; then
        echo 0 >"$i386_entry"
        was_enabled=1
    fi
    i386_runs && result=0
    [[ -n $was_enabled ]] && echo 1 >"$i386_entry"
    return $result
}

# Is an emulator running 32-bit programs here? The kernel's view of a running one names the
# program it executes: the emulator, not the 32-bit file. This works without binfmt_misc mounted,
# in a chroot or in a container, where only the host knows what is registered. Prints the
# emulator's path when there is one.
i386_emulator() {
    local pid own link tries
    own=$(readlink /proc/$$/exe)
    ("$i386_probe" --version >/dev/null 2>&1) &
    pid=$!
    # Until the subshell has made its exec, the link still names this shell.
    for ((tries = 0; tries < 100000; tries++)); do
        link=$(readlink "/proc/$pid/exe" 2>/dev/null) || break
        [[ $link == "$own" ]] && continue
        [[ $link == "$i386_probe" ]] || echo "$link"
        break
    done
    wait "$pid" 2>/dev/null || true
}

install_qemu_user() {
    local version candidate codename targets mirror
    version=$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null || true)
    if [[ -n $version && -f $i386_conf ]] && dpkg --compare-versions "$version" ge 1:9.1; then
        return 0
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt_updated=1
    candidate=$(apt-cache policy qemu-user | awk '$1 == "Candidate:" {print $2}')
    if [[ -n $candidate && $candidate != "(none)" ]] && dpkg --compare-versions "$candidate" ge 1:9.1; then
        apt_install qemu-user
        return 0
    fi
    # The release's backports, from the mirror its own packages come from.
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [[ -n $codename ]] || { echo "install-deps: no release codename for backports" >&2; return 1; }
    targets=$(apt-get indextargets --format '$(RELEASE) $(REPO_URI)')
    if ! awk -v release="$codename-backports" '$1 == release {found = 1} END {exit !found}' <<<"$targets"; then
        mirror=$(awk -v release="$codename" '$1 == release {print $2; exit}' <<<"$targets")
        [[ -n $mirror ]] || { echo "install-deps: no mirror for $codename found" >&2; return 1; }
        echo "deb $mirror $codename-backports main" >"/etc/apt/sources.list.d/$codename-backports.list"
        apt-get update -qq
    fi
    apt_install -t "$codename-backports" qemu-user
}

setup_i386_emulation() {
    [[ -x $i386_probe ]] || return 0
    # A chroot or container may lack the binfmt_misc mount while the host has an emulator
    # registered: 32-bit programs then start, and only the registration (or the emulator seen
    # running them) tells that they are emulated. Mount it where we may.
    if [[ ! -e $binfmt/register ]]; then
        mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || true
    fi
    local emulator
    if [[ ! -e $binfmt/register ]]; then
        # Nothing to look at or register with (an unprivileged container): what runs them decides.
        if i386_runs; then
            emulator=$(i386_emulator)
            echo "32-bit programs start here, ${emulator:+emulated by $emulator}${emulator:-run by the kernel}"
            return 0
        fi
        echo "install-deps: 32-bit programs do not start, and no emulator can be registered here" >&2
        return 1
    fi
    if kernel_runs_i386; then
        echo "32-bit programs start here, run by the kernel"
        return 0
    fi
    install_qemu_user
    # QEMU does not emulate ptrace, which wineserver needs to read and write the memory of other
    # processes (ReadProcessMemory, WriteProcessMemory: ERROR_ACCESS_DENIED under an emulated
    # server). Debian's 64-bit Wine brings a native wineserver that serves the 32-bit programs
    # too, and Wine's wrapper starts that one where it is installed (x86-64 has it from the list
    # above; this is for any other 64-bit host that has it).
    if ! dpkg-query -W -f='${Status}' wine64 2>/dev/null | grep -q 'install ok installed'; then
        apt_install wine64 || echo "install-deps: no wine64 here; an emulated wineserver cannot write other processes' memory" >&2
    fi
    # The entry does not outlive a reboot. One like the shipped one that works stays, so that Wine
    # programs running meanwhile are not left without it; any other is replaced. F opens the
    # emulator at registration, so it serves programs in any mount namespace or chroot; P keeps
    # argv[0]; O hands the emulator the open file. Wine needs no C (no set-user-ID programs).
    local line interpreter flags
    line=$(grep -m1 '^:qemu-i386:' "$i386_conf")
    interpreter=$(cut -d: -f7 <<<"$line")
    flags=$(cut -d: -f8 <<<"$line")
    if [[ -e $i386_entry ]]; then
        if grep -qx enabled "$i386_entry" && grep -qx "interpreter $interpreter" "$i386_entry" &&
           i386_runs; then
            return 0
        fi
        echo -1 >"$i386_entry"
    fi
    printf '%s' "$line" >"$binfmt/register"
    if ! i386_runs; then
        echo "install-deps: 32-bit programs do not start even through $interpreter" >&2
        return 1
    fi
    echo "this kernel cannot run 32-bit programs: they run through $(i386_emulator || true) (registered as $interpreter, binfmt_misc flags $flags)"
}

setup_i386_emulation
