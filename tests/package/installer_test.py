#!/usr/bin/env python3
"""The Windows packages, and the installer under Wine in a fresh prefix of its own:

    installer_test.py WINE WIN32_BUILD_DIR VERSION

Builds the packages from the build tree with tools/package-windows.sh and checks the zip's
contents and the installer's version resource. Then it installs silently with
"setup.exe /S /PATH", and checks what the installer promises: the two programs (byte for byte
the build's) and the uninstaller in the user's local Programs folder, the Start-menu shortcut to
Ferrolyn.exe, the uninstall entry with its values, ".encrypted" associated with Ferrolyn.exe, and
the install folder at the end of the user's PATH, which keeps its type. Then the installed ferrolyn-cli.exe must print VERSION. Then a seed and a settings file are put
in the working folder, the uninstaller runs silently, and none of the files, the shortcut or the
registry keys may be left, nor the PATH entry (an entry added after it stays), while the seed
and settings are unchanged byte for byte. Last, a PATH too long for the installer's strings, with
or without the folder added, must be left exactly as it was.

The registry is read from the prefix's user.reg once the wineserver has ended (it writes the file
then), which costs no Wine start: each one is slow where 32-bit programs run emulated."""
import importlib.util
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile
from pathlib import Path

TOP = Path(__file__).resolve().parents[2]
UNINSTALL_KEY = r"Software\Microsoft\Windows\CurrentVersion\Uninstall\Ferrolyn"
CLASSES = r"Software\Classes"
EXTENSION_KEY = CLASSES + r"\.encrypted"
PROGID = "Ferrolyn.encrypted"
PROGID_KEY = CLASSES + "\\" + PROGID

# The user's PATH before the installer: one entry to expand, one plain.
USER_PATH = r"%USERPROFILE%\bin;C:\Verktyg"
# An entry the user adds after the installer's.
LATER_ENTRY = r"D:\Efter"
# The longest string NSIS holds here, terminator included.
LONG_PATH = 1024

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED: " + what)
    return condition


def unescape(text):
    """A string as Wine's registry files write it: backslash escapes, \\x{hex} for others."""
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        if c != "\\":
            out.append(c)
            i += 1
            continue
        n = text[i + 1]
        if n == "x":
            m = re.match(r"[0-9a-fA-F]{1,4}", text[i + 2:])
            out.append(chr(int(m.group(0), 16)))
            i += 2 + len(m.group(0))
        else:
            out.append({"n": "\n", "r": "\r", "t": "\t", "0": "\0"}.get(n, n))
            i += 2
    return "".join(out)


class ExpandString(str):
    """A REG_EXPAND_SZ value, which compares unequal to a plain string of the same text."""

    def __eq__(self, other):
        return isinstance(other, ExpandString) and str.__eq__(self, other)

    def __ne__(self, other):
        return not self == other

    __hash__ = str.__hash__

    def __repr__(self):
        return "str(2):" + str.__repr__(self)


def escape(text):
    return "".join(c if c.isascii() and c.isprintable() and c not in '\\"' else
                   "\\" + c if c in '\\"' else f"\\x{ord(c):04x}" for c in text)


def set_user_path(prefix, path):
    """Sets HKCU\\Environment's Path to the REG_EXPAND_SZ `path` in user.reg, while the wineserver is
    down (it reads the file again when it starts)."""
    registry = prefix / "user.reg"
    lines = registry.read_text(encoding="utf-8").split("\n")
    value = f'"Path"=str(2):"{escape(path)}"'
    start = next((i for i, line in enumerate(lines) if line.lower().startswith("[environment]")), None)
    if start is None:
        lines += ["", "[Environment] 0", value]
    else:
        end = start + 1
        while end < len(lines) and lines[end].strip() and not lines[end].startswith("["):
            end += 1
        body = [line for line in lines[start + 1:end] if not line.lower().startswith('"path"=')]
        lines[start + 1:end] = body + [value]
    registry.write_text("\n".join(lines), encoding="utf-8")


def read_user_registry(prefix):
    """The keys of HKEY_CURRENT_USER in the prefix's user.reg, by lower-case name: each a dict of
    lower-case value name ("" for the default value) to a str, or an int for a DWORD."""
    keys = {}
    current = None
    for line in (prefix / "user.reg").read_text(encoding="utf-8", errors="replace").splitlines():
        if line.startswith("["):
            name = line[1:line.rindex("]")]
            current = keys.setdefault(unescape(name).lower(), {})
            continue
        if current is None:
            continue
        m = re.match(r'^(@|"((?:[^"\\]|\\.)*)")=(.*)$', line)
        if not m:
            continue
        name = "" if m.group(1) == "@" else unescape(m.group(2)).lower()
        data = m.group(3)
        if data.startswith('"') and data.endswith('"'):
            current[name] = unescape(data[1:-1])
        elif data.startswith('str(2):"') and data.endswith('"'):
            current[name] = ExpandString(unescape(data[8:-1]))
        elif data.startswith("dword:"):
            current[name] = int(data[6:], 16)
        else:
            current[name] = data
    return keys


def main():
    if len(sys.argv) != 4:
        sys.exit("usage: installer_test.py WINE WIN32_BUILD_DIR VERSION")
    wine, build, version = sys.argv[1], Path(sys.argv[2]).resolve(), sys.argv[3]
    wineserver = shutil.which("wineserver") or str(Path(wine).with_name("wineserver"))
    work = Path(tempfile.mkdtemp(prefix="ferrolyn-installer-"))
    try:
        run(wine, wineserver, build, version, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    print("installer: install, start and uninstall as expected")
    return 0


def check_zip(path, build, version):
    """The zip: one folder Ferrolyn-VERSION with the programs as built and the Swedish guide, its
    name flagged as UTF-8, the text with a byte-order mark and CRLF line ends."""
    if not check(path.is_file(), f"{path.name} was built"):
        return
    top = f"Ferrolyn-{version}/"
    guide = top + "LÄSMIG.txt"
    with zipfile.ZipFile(path) as archive:
        names = archive.namelist()
        check(sorted(names) == sorted([top, top + "Ferrolyn.exe", top + "ferrolyn-cli.exe", guide]),
              f"the zip holds the folder {top} with the programs and the guide: {names}")
        for name, original in ((top + "Ferrolyn.exe", build / "desktop/Ferrolyn.exe"),
                               (top + "ferrolyn-cli.exe", build / "ferrolyn-cli.exe")):
            check(name in names and archive.read(name) == original.read_bytes(), f"{name} in the zip as built")
        if check(guide in names, "the guide is in the zip"):
            check(archive.getinfo(guide).flag_bits & 0x800, "the guide's name is flagged as UTF-8")
            text = archive.read(guide)
            lines = text.split(b"\n")
            check(text.startswith(b"\xef\xbb\xbf") and all(line.endswith(b"\r") for line in lines[:-1])
                  and lines[-1] == b"" and version.encode() in text,
                  "the guide is UTF-8 with a byte-order mark and CRLF line ends, and names the version")


def check_setup_version(setup, version):
    """The installer's version resource, read with tools/check-pe-version.py's reader (NSIS writes
    the string table's name in lower case, which Windows does not mind)."""
    spec = importlib.util.spec_from_file_location("check_pe_version", TOP / "tools/check-pe-version.py")
    reader = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(reader)
    blobs = reader.resources(setup.read_bytes(), reader.RT_VERSION)
    if not check(len(blobs) == 1, f"the installer has one version resource, not {len(blobs)}"):
        return
    file_version, product_version, strings, _ = reader.read_version(blobs[0])
    four = ".".join((version.split(".") + ["0"] * 4)[:4])
    check(file_version == four and product_version == four,
          f"the installer's fixed version {file_version} / {product_version} is {four}")
    strings = {(table.upper(), name): text for (table, name), text in strings.items()}
    for name, value in (("FileVersion", version), ("ProductVersion", version), ("ProductName", "Ferrolyn"),
                        ("OriginalFilename", setup.name)):
        check(strings.get(("041D04B0", name)) == value,
              f"the installer's {name} is {value!r}, not {strings.get(('041D04B0', name))!r}")


def run(wine, wineserver, build, version, work):
    started = time.monotonic()
    out = work / "out"
    subprocess.run([str(TOP / "tools/package-windows.sh"), str(build), str(out)], check=True,
                   stdout=subprocess.DEVNULL)
    setup = out / f"Ferrolyn-{version}-setup.exe"
    check_zip(out / f"Ferrolyn-{version}-win32.zip", build, version)
    if not check(setup.is_file(), f"{setup.name} was built"):
        return
    check_setup_version(setup, version)

    prefix = work / "prefix"
    # winemenubuilder would turn the shortcut and the file type into menu entries, icons and MIME
    # types in the Linux user's home: switched off, Wine keeps all of it inside the prefix.
    env = dict(os.environ, WINEPREFIX=str(prefix), WINEARCH="win32", WINEDEBUG="-all",
               LC_ALL="C.UTF-8", WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
    # No window is shown: the installer and uninstaller run silently.
    env.pop("DISPLAY", None)

    def phase(name):
        print(f"{time.monotonic() - started:6.1f} s  {name}", flush=True)

    def wine_run(*args, **kwargs):
        return subprocess.run([wine, *map(str, args)], env=env, stdin=subprocess.DEVNULL, **kwargs)

    def wait_for_wine():
        # Until every program of the prefix has ended and the server has written user.reg.
        subprocess.run([wineserver, "-w"], env=env, check=False)

    phase("packages built")
    wine_run("wineboot", "-i", stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_for_wine()
    phase("prefix created")
    users = [p for p in (prefix / "drive_c/users").iterdir() if p.name.lower() != "public"]
    if not check(len(users) == 1, f"one user folder in the new prefix: {users}"):
        return
    user = users[0]
    local = user / "AppData/Local"
    install = local / "Programs/Ferrolyn"
    install_windows = rf"C:\users\{user.name}\AppData\Local\Programs\Ferrolyn"
    shortcut = user / "AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Ferrolyn.lnk"
    work_folder = local / "QX_wd"

    # The user's own PATH, unexpanded: /PATH puts the install folder at its end.
    set_user_path(prefix, USER_PATH)
    status = wine_run(setup, "/S", "/PATH", stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
    wait_for_wine()
    phase("installed")
    check(status == 0, f"setup.exe /S exits with 0, not {status}")

    # The files.
    installed = {"Ferrolyn.exe": build / "desktop/Ferrolyn.exe", "ferrolyn-cli.exe": build / "ferrolyn-cli.exe"}
    for name, original in installed.items():
        target = install / name
        check(target.is_file() and target.read_bytes() == original.read_bytes(),
              f"{name} installed in AppData\\Local\\Programs\\Ferrolyn as built")
    check((install / "uninstall.exe").is_file(), "the uninstaller is installed")

    # The shortcut names the installed Ferrolyn.exe (a .lnk holds the path in ANSI or UTF-16).
    target = install_windows + r"\Ferrolyn.exe"
    if check(shortcut.is_file(), "the Start-menu shortcut Ferrolyn.lnk exists"):
        data = shortcut.read_bytes().lower()
        check(target.lower().encode("ascii") in data or target.lower().encode("utf-16-le") in data,
              f"the shortcut points to {target}")

    # The uninstall entry and the association.
    keys = read_user_registry(prefix)
    uninstall = keys.get(UNINSTALL_KEY.lower(), {})
    size = sum(p.stat().st_size for p in installed.values()) // 1024
    expected = {
        "displayname": "Ferrolyn",
        "displayversion": version,
        "publisher": "Ferrolyn",
        "displayicon": f'"{target}",0',
        "uninstallstring": f'"{install_windows}\\uninstall.exe"',
        "quietuninstallstring": f'"{install_windows}\\uninstall.exe" /S',
        "nomodify": 1,
        "norepair": 1,
    }
    check(bool(uninstall), "the uninstall entry exists")
    for name, value in expected.items():
        check(uninstall.get(name) == value, f"uninstall entry {name} = {value!r}, not {uninstall.get(name)!r}")
    estimated = uninstall.get("estimatedsize")
    check(isinstance(estimated, int) and size <= estimated <= size + 64,
          f"uninstall entry EstimatedSize {estimated!r} KiB, the programs take {size} KiB")
    path = keys.get("environment", {}).get("path")
    check(path == ExpandString(USER_PATH + ";" + install_windows),
          f"the install folder is added to the end of PATH, the type kept: {path!r}")
    check(keys.get(EXTENSION_KEY.lower(), {}).get("") == PROGID, f".encrypted is a {PROGID}")
    check(keys.get((PROGID_KEY + r"\shell\open\command").lower(), {}).get("") == f'"{target}" "%1"',
          f'{PROGID} opens with "{target}" "%1"')
    check(keys.get((PROGID_KEY + r"\DefaultIcon").lower(), {}).get("") == f'"{target}",0',
          f"{PROGID} has Ferrolyn.exe's icon")

    # The installed console tool runs.
    result = wine_run(install / "ferrolyn-cli.exe", "--version", capture_output=True, text=True)
    shown = result.stdout.splitlines()
    check(result.returncode == 0 and len(shown) == 2 and shown[0] == f"ferrolyn {version}"
          and shown[1].startswith("Motorer: AES-256 "),
          f"the installed ferrolyn-cli.exe --version prints \"ferrolyn {version}\" and its engines: "
          f"{result.returncode}, {result.stdout!r}")

    phase("installed ferrolyn-cli.exe run")
    # The user's seed and settings, which the uninstaller must leave alone.
    work_folder.mkdir(parents=True, exist_ok=True)
    kept = {"rand.bin": os.urandom(2048), "config.bin": os.urandom(64)}
    for name, data in kept.items():
        (work_folder / name).write_bytes(data)

    # The user adds a folder after ours; the uninstaller takes out only its own entry.
    set_user_path(prefix, USER_PATH + ";" + install_windows + ";" + LATER_ENTRY)
    # The uninstaller copies itself to a temporary folder, starts the copy and ends; waiting for
    # the wineserver waits for the copy too.
    status = wine_run(install / "uninstall.exe", "/S", stdout=subprocess.DEVNULL,
                      stderr=subprocess.DEVNULL).returncode
    wait_for_wine()
    phase("uninstalled")
    check(status == 0, f"uninstall.exe /S exits with 0, not {status}")

    check(not install.exists(), f"the install folder is gone: {sorted(os.listdir(install)) if install.exists() else ''}")
    check(not shortcut.exists(), "the shortcut is gone")
    keys = read_user_registry(prefix)
    for key in (UNINSTALL_KEY, EXTENSION_KEY, PROGID_KEY):
        left = sorted(k for k in keys if k == key.lower() or k.startswith(key.lower() + "\\"))
        check(not left, f"no key {key} left: {left}")
    path = keys.get("environment", {}).get("path")
    check(path == ExpandString(USER_PATH + ";" + LATER_ENTRY), f"only the installer's entry is taken out of PATH: {path!r}")
    for name, data in kept.items():
        path = work_folder / name
        check(path.is_file() and path.read_bytes() == data, f"{name} in QX_wd is kept as it was")

    # A PATH that the installer's strings cannot hold whole once the folder is added, and one they
    # cannot even read: both stay as they are, and nothing is remembered for the uninstaller.
    for length in (LONG_PATH - len(install_windows), 3 * LONG_PATH):
        long_path = (USER_PATH + ";") * (length // (len(USER_PATH) + 1) + 1)
        long_path = long_path[:length]
        set_user_path(prefix, long_path)
        status = wine_run(setup, "/S", "/PATH", stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
        wait_for_wine()
        phase(f"installed with a PATH of {length} characters")
        check(status == 0, f"setup.exe /S /PATH exits with 0, not {status}")
        keys = read_user_registry(prefix)
        path = keys.get("environment", {}).get("path")
        check(path == ExpandString(long_path), f"a PATH of {length} characters is kept as it was: "
              f"{len(path) if path else path} characters")
        check("pathentry" not in keys.get(UNINSTALL_KEY.lower(), {}),
              "no PATH entry is remembered when none was added")


if __name__ == "__main__":
    sys.exit(main())
