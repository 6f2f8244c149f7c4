"""A fresh Wine prefix for one installer scenario, and what the tests read
from a package.

Each prefix is a copy of a template made once with wineboot, runs its own
wineserver, and is deleted afterwards."""
import os
import re
import shutil
import subprocess
import time
from pathlib import Path, PureWindowsPath

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
# The Unix exit status of a Windows program keeps only 8 bits of its exit
# code (1605 arrives as 69), so msiexec's result is printed by cmd instead.
_MSIEXEC_SCRIPT = "@echo off\r\nmsiexec %*\r\necho msiexec result %ERRORLEVEL%\r\n"
_VALUE_LINE = re.compile(r"^    (.*?)    (REG_[A-Z_]+)    ?(.*)$")
# A value line of a .reg file: "name"=data or @=data.
_EXPORTED_VALUE = re.compile(r'^(?:"((?:[^"\\]|\\.)*)"|(@))=(.*)$')
_EXPORT_ESCAPES = {"\\": "\\", '"': '"', "n": "\n", "r": "\r", "0": "\0"}
_ROOT_KEYS = {"HKLM": "HKEY_LOCAL_MACHINE", "HKCU": "HKEY_CURRENT_USER", "HKCR": "HKEY_CLASSES_ROOT",
              "HKU": "HKEY_USERS"}


def _environment(prefix):
    # No menu builder: shortcuts the package creates stay inside the prefix
    # instead of also becoming menu entries of the desktop's user.
    environment = dict(os.environ, WINEPREFIX=str(prefix), WINEDEBUG="-all",
                       WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
    return environment


def _unescape(text):
    return re.sub(r"\\(.)", lambda match: _EXPORT_ESCAPES.get(match.group(1), match.group(1)), text)


def parse_registry_export(text, root):
    """The keys and values below root of a .reg file's text, as
    {(key, value name) in lower case: (key, value name, data)}: key relative
    to root, value name None for the key itself and "" for its default
    value, data ("REG_SZ", text) for strings and (None, the exported text)
    for any other type. Case is kept for reading and ignored for finding, as
    the registry does."""
    entries = {}
    prefix = root.lower() + "\\"
    key = None
    lines = text.splitlines()
    index = 0
    while index < len(lines):
        line = lines[index]
        index += 1
        # Binary data continues over lines ending with a backslash (text
        # data ends with its quote).
        while line.endswith("\\") and index < len(lines):
            line = line[:-1] + lines[index].strip()
            index += 1
        if line.startswith("[") and line.endswith("]"):
            path = line[1:-1]
            key = path[len(prefix):] if path.lower().startswith(prefix) else None
            if key:
                entries[(key.lower(), None)] = (key, None, None)
            continue
        match = _EXPORTED_VALUE.match(line)
        if key and match:
            name = "" if match.group(2) else _unescape(match.group(1))
            data = match.group(3)
            if data.startswith('"') and data.endswith('"'):
                data = ("REG_SZ", _unescape(data[1:-1]))
            else:
                data = (None, data)
            entries[(key.lower(), name.lower())] = (key, name, data)
    return entries


def ensure_template(path):
    """A booted prefix at path, made once and reused by later runs."""
    path = Path(path).resolve()
    if (path / "system.reg").exists():
        return path
    unfinished = path.with_name(path.name + ".unfinished")
    shutil.rmtree(unfinished, ignore_errors=True)
    unfinished.parent.mkdir(parents=True, exist_ok=True)
    environment = _environment(unfinished)
    subprocess.run([WINE, "wineboot", "-i"], env=environment, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300, check=True)
    subprocess.run([WINESERVER, "-w"], env=environment, timeout=120, check=True)
    unfinished.rename(path)
    return path


class WinePrefix:
    def __init__(self, template, path):
        self.path = Path(path).resolve()
        shutil.rmtree(self.path, ignore_errors=True)
        shutil.copytree(template, self.path, symlinks=True)
        self.environment = _environment(self.path)
        quiet = {"stdin": subprocess.DEVNULL, "stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
        subprocess.run([WINESERVER, "-p"], env=self.environment, check=True, **quiet)
        # The first program starts Wine's own services, which live as long
        # as the server and keep the output they inherit: give them none,
        # so that no later program's output stays open.
        subprocess.run([WINE, "cmd", "/c", "exit"], env=self.environment, timeout=120, check=True, **quiet)
        (self.path / "drive_c" / "msiexec-result.cmd").write_text(_MSIEXEC_SCRIPT)

    def close(self):
        subprocess.run([WINESERVER, "-k"], env=self.environment, capture_output=True)
        subprocess.run([WINESERVER, "-w"], env=self.environment, capture_output=True)
        shutil.rmtree(self.path, ignore_errors=True)

    def run(self, *arguments, timeout=60):
        """Runs a Windows program; its output with CR LF turned into LF."""
        result = subprocess.run([WINE, *arguments], env=self.environment, stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=timeout)
        result.stdout = result.stdout.decode("latin-1").replace("\r\n", "\n")
        return result

    def start(self, *arguments):
        """Runs a Windows program that starts another one and returns at
        once (cmd /c start ...): without the output, which the started
        program would hold open. Its exit code."""
        return subprocess.run([WINE, *arguments], env=self.environment, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60).returncode

    def unix_path(self, windows_path):
        """Where a path on drive C of this prefix lies."""
        path = PureWindowsPath(windows_path)
        if path.drive.upper() != "C:":
            raise ValueError(f"not on drive C: {windows_path}")
        # Wine's folders differ from Windows' in case only (C:\windows).
        return self.path / "drive_c" / Path(*path.parts[1:])

    def windows_path(self, unix_path):
        return "Z:" + str(Path(unix_path).resolve()).replace("/", "\\")

    def msiexec(self, *arguments):
        """msiexec's full result code and the seconds it took."""
        started = time.monotonic()
        result = self.run("cmd", "/c", r"C:\msiexec-result.cmd", *arguments, timeout=300)
        seconds = time.monotonic() - started
        match = re.search(r"^msiexec result (-?\d+)$", result.stdout, re.M)
        if not match:
            raise AssertionError(f"no msiexec result in {result.stdout!r}")
        return int(match.group(1)), seconds

    def registry_values(self, key):
        """{value name: (type, data)} of a key, or None when it is missing."""
        result = self.run("reg", "query", key)
        if result.returncode != 0:
            return None
        values = {}
        for line in result.stdout.splitlines():
            match = _VALUE_LINE.match(line)
            if match:
                values[match.group(1)] = (match.group(2), match.group(3))
        return values

    def registry_tree(self, key):
        """Every key and value below key (see parse_registry_export)."""
        export = "C:\\registry-export.reg"
        result = self.run("reg", "export", key, export, "/y")
        if result.returncode != 0:
            raise AssertionError(f"reg export {key} failed: {result.stdout}")
        path = self.unix_path(export)
        text = path.read_bytes().decode("utf-16")
        path.unlink()
        root, _, path = key.partition("\\")
        return parse_registry_export(text, _ROOT_KEYS.get(root.upper(), root) + "\\" + path)

    def environment_value(self, name):
        """A variable of the prefix's Windows environment (%APPDATA%, ...)."""
        result = self.run("cmd", "/c", "echo", f"%{name}%")
        value = result.stdout.strip()
        if result.returncode != 0 or not value or value == f"%{name}%":
            raise AssertionError(f"no %{name}% in the prefix")
        return value

    def set_registry_value(self, key, name, data):
        result = self.run("reg", "add", key, "/v", name, "/t", "REG_SZ", "/d", data, "/f")
        if result.returncode != 0:
            raise AssertionError(f"reg add {key} {name} failed: {result.stdout}")

    def set_windows_version(self, version):
        """The Windows version the prefix reports (winecfg's names: vista,
        win7, win10, ...)."""
        result = self.run("winecfg", "/v", version)
        if result.returncode != 0:
            raise AssertionError(f"winecfg /v {version} failed: {result.returncode}")

    def service_state(self, name):
        """The state word sc shows (RUNNING, STOPPED, ...), None when the
        service does not exist."""
        result = self.run("sc", "query", name)
        match = re.search(r"STATE\s+:\s+\d+\s+(\w+)", result.stdout)
        return match.group(1) if result.returncode == 0 and match else None

    def process_ids(self, image_name):
        """Unix process ids of the live Windows processes of this prefix
        whose command line names image_name."""
        found = []
        for entry in Path("/proc").iterdir():
            if not entry.name.isdigit():
                continue
            try:
                command = (entry / "cmdline").read_bytes().decode("latin-1")
                if image_name.lower() not in command.lower():
                    continue
                environment = (entry / "environ").read_bytes().split(b"\0")
                state = (entry / "stat").read_text().rsplit(")", 1)[1].split()[0]
            except OSError:
                continue
            if f"WINEPREFIX={self.path}".encode() in environment and state != "Z":
                found.append(int(entry.name))
        return found


def wait_until(condition, seconds, interval=0.5):
    """condition()'s first true answer within seconds, else its last one."""
    deadline = time.monotonic() + seconds
    while True:
        answer = condition()
        if answer or time.monotonic() > deadline:
            return answer
        time.sleep(interval)


def msi_table(package, table):
    """The rows of a table of a package as dictionaries."""
    text = subprocess.run(["msiinfo", "export", str(package), table], capture_output=True,
                          text=True, check=True).stdout
    lines = text.split("\r\n") if "\r\n" in text else text.splitlines()
    columns = lines[0].split("\t")
    return [dict(zip(columns, line.split("\t"))) for line in lines[3:] if line]


def quaxagg_servers(arch, idl):
    """The --com-server pairs (file Id, IDL file) of the package for arch:
    quaxagg.dll, and in the x64 package also its i686 copy."""
    servers = [("quaxagg.dll", idl)]
    if arch == "x64":
        servers.append(("quaxagg32.dll", idl))
    return servers


class Package:
    """What a test needs to know of a package: its codes and version and
    where its files go."""

    # Where the folders a package starts from lie in a 64-bit prefix.
    ROOT_FOLDERS = {
        "TARGETDIR": "C:\\",
        "ProgramFiles64Folder": "C:\\Program Files",
        "ProgramFilesFolder": "C:\\Program Files (x86)",
        "System64Folder": "C:\\windows\\system32",
        "SystemFolder": "C:\\windows\\syswow64",
    }

    def __init__(self, path):
        self.path = Path(path)
        properties = {row["Property"]: row["Value"] for row in msi_table(path, "Property")}
        self.product_code = properties["ProductCode"]
        self.version = properties["ProductVersion"]
        self._directories = {row["Directory"]: row for row in msi_table(path, "Directory")}
        components = {row["Component"]: row for row in msi_table(path, "Component")}
        self._files = [(components[row["Component_"]]["Directory_"], row["FileName"].split("|")[-1])
                       for row in msi_table(path, "File")]

    def folder(self, directory, install_dir):
        if directory == "INSTALLDIR" and install_dir:
            return PureWindowsPath(install_dir)
        if directory in self.ROOT_FOLDERS:
            return PureWindowsPath(self.ROOT_FOLDERS[directory])
        row = self._directories[directory]
        name = row["DefaultDir"].split(":")[-1].split("|")[-1]
        return self.folder(row["Directory_Parent"], install_dir) / name

    def installed_files(self, install_dir=None):
        """Windows paths of every file the package installs."""
        return [str(self.folder(directory, install_dir) / name) for directory, name in self._files]
