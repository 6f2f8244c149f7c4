#!/usr/bin/env python3
"""The package under Wine: silent install, removal, upgrade and the bad
cases, each scenario in a fresh prefix.

  installer_test.py --package quax-V-x64.msi --stage STAGE --stage-32 STAGE32 --idl QUAXAGG.IDL
                    --window-probe quax_window_probe.exe --work DIR --report FILE.xml

--stage (and --stage-32, the i686 install) is what the package was built
from: the lower version for the upgrade and the package for 32-bit Windows
are built from the same files here. The administration programs' windows
need an X display (run under xvfb-run)."""
import datetime
import shutil
import sys
import unittest
from pathlib import Path, PureWindowsPath

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))
sys.path.insert(0, str(Path(__file__).resolve().parent))

import build_package  # noqa: E402
import report  # noqa: E402
from wine_prefix import Package, WinePrefix, ensure_template, quaxagg_servers, wait_until  # noqa: E402

OPTIONS = None  # set by report.main
SERVICE = "QUAXWinProcess"
SERVICE_KEY = r"HKLM\SYSTEM\CurrentControlSet\Services\QUAXWinProcess"
ADMIN_KEY = r"HKLM\SOFTWARE\QUAX\Admin"
SETTINGS_KEY = r"HKLM\SOFTWARE\QUAX\Collectors\QUAXWinProcess"
EVENT_SOURCES_KEY = r"HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application"
WINDOWS_KEY = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\Windows"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
DEFAULT_INSTALL_DIR = "C:\\Program Files\\QUAX\\"
# Set before every install: the package must leave it as it is.
OTHER_APPINIT_DLLS = "other.dll"
ERROR_INSTALL_FAILURE = 1603
ERROR_UNKNOWN_PRODUCT = 1605

CLASSES_KEY = r"HKLM\Software\Classes"
SERVER = DEFAULT_INSTALL_DIR + "quaxagg.dll"
SERVER_32 = DEFAULT_INSTALL_DIR + "x86\\quaxagg.dll"
# The in-process collector for 64-bit and for 32-bit processes.
HOOK = r"C:\windows\system32\quaxcolhook.dll"
HOOK_32 = r"C:\windows\syswow64\quaxcolhook.dll"
# Start-menu shortcut (named like the main window) and program.
ADMINISTRATION_PROGRAMS = {
    "QUAX Windows Process Collector Configuration - Service": "quaxsvcadmin.exe",
    "QUAX Windows Process Collector Configuration - User32": "quaxhookadmin.exe",
}
# The question an administration program may ask when it is closed.
SAVE_CHANGES_CAPTION = "Save Changes"
PROGRAMS_MENU = r"Microsoft\Windows\Start Menu\Programs"
SCRIPT = Path(__file__).resolve().parent / "typed_engine.vbs"

current = lower = for_32_bit = template = None


def setUpModule():
    global current, lower, for_32_bit, template
    work = Path(OPTIONS.work)
    template = ensure_template(work / "template")
    current = Package(OPTIONS.package)
    # From the same files: the highest version below this one, and the
    # package for 32-bit Windows.
    lower = Package(build_package.build(
        "x64", build_package.version_below(current.version), OPTIONS.stage, work / "packages" / "lower-x64.msi",
        stage_32=OPTIONS.stage_32, com_servers=quaxagg_servers("x64", OPTIONS.idl)))
    for_32_bit = Package(build_package.build(
        "x86", current.version, OPTIONS.stage, work / "packages" / "same-x86.msi",
        com_servers=quaxagg_servers("x86", OPTIONS.idl)))


def _not_compared(key):
    """Keys whose changes are not the package's: Windows Installer's records
    of installed products, and the 32-bit view's TypeLib key, which Wine's
    registry links to the 64-bit one (one key for both views, as on
    Windows) and reg export therefore lists twice."""
    return any(key == root or key.startswith(root + "\\")
               for root in ("installer", "wow6432node\\typelib"))


def changes(before, after):
    """{(key, value name): data} of the entries of the registry tree after
    that before lacks or holds with other data (keys in lower case)."""
    return {entry: value[2] for entry, value in after.items()
            if (entry not in before or before[entry][2] != value[2]) and not _not_compared(entry[0])}


def in_32_bit_view(entry):
    return entry[0].startswith("wow6432node\\")


class Scenario(unittest.TestCase):
    """A fresh prefix for the class; helpers that read its state."""

    @classmethod
    def setUpClass(cls):
        cls.prefix = WinePrefix(template, Path(OPTIONS.work) / cls.__name__)
        # Also when the rest of a setUpClass fails.
        cls.addClassCleanup(cls.prefix.close)
        cls.prefix.set_registry_value(WINDOWS_KEY, "AppInit_DLLs", OTHER_APPINIT_DLLS)

    @classmethod
    def install(cls, package, *properties):
        code, seconds = cls.prefix.msiexec("/i", cls.prefix.windows_path(package.path), "/qn", *properties)
        print(f"\n{cls.__name__}: msiexec /i {package.path.name} /qn -> {code} in {seconds:.1f} s")
        return code

    @classmethod
    def uninstall(cls, target):
        code, seconds = cls.prefix.msiexec("/x", target, "/qn")
        print(f"\n{cls.__name__}: msiexec /x {target} /qn -> {code} in {seconds:.1f} s")
        return code

    @classmethod
    def log_file(cls, install_dir, prefix="QUAXProcessLog-"):
        """Today's process log in the default log directory (or yesterday's
        when the day changed while waiting), once it has a start record."""
        def written():
            for day in (datetime.date.today(), datetime.date.today() - datetime.timedelta(days=1)):
                name = PureWindowsPath(install_dir) / "QUAXWinProcessLogs" / f"{prefix}{day:%Y%m%d}.txt"
                path = cls.prefix.unix_path(name)
                if path.exists() and "\nS\t" in path.read_text(encoding="latin-1"):
                    return path
            return None
        return wait_until(written, 60)

    def registered_version(self, package):
        values = self.prefix.registry_values(f"{UNINSTALL_KEY}\\{package.product_code}")
        return values["DisplayVersion"][1] if values else None

    def assertFilesInstalled(self, package, install_dir=None):
        missing = [path for path in package.installed_files(install_dir)
                   if not self.prefix.unix_path(path).is_file()]
        self.assertEqual(missing, [], "files of the package not installed")

    @classmethod
    def programs_menus(cls):
        """The Start menu's Programs folders: the user's, the machine's."""
        return [PureWindowsPath(cls.prefix.environment_value(variable)) / PROGRAMS_MENU
                for variable in ("APPDATA", "ProgramData")]

    def assertAppInitDllsUntouched(self):
        self.assertEqual(self.prefix.registry_values(WINDOWS_KEY).get("AppInit_DLLs"),
                         ("REG_SZ", OTHER_APPINIT_DLLS))


class SilentInstall(Scenario):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.code = cls.install(current)

    def test_succeeds_and_places_every_file(self):
        self.assertEqual(self.code, 0)
        self.assertFilesInstalled(current)
        self.assertTrue(self.prefix.unix_path(HOOK).is_file(), "the in-process collector belongs in System32")

    def test_installs_the_in_process_collector_for_32_bit_processes_in_syswow64(self):
        self.assertEqual(build_package.pe_machine(self.prefix.unix_path(HOOK)), build_package.PE_MACHINE_AMD64)
        self.assertEqual(build_package.pe_machine(self.prefix.unix_path(HOOK_32)), build_package.PE_MACHINE_I386)

    def test_installs_quaxagg_for_64_bit_and_for_32_bit_clients(self):
        self.assertEqual(build_package.pe_machine(self.prefix.unix_path(SERVER)), build_package.PE_MACHINE_AMD64)
        self.assertEqual(build_package.pe_machine(self.prefix.unix_path(SERVER_32)), build_package.PE_MACHINE_I386)

    def test_registers_the_collector_service(self):
        values = self.prefix.registry_values(SERVICE_KEY)
        self.assertIsNotNone(values, "no service QUAXWinProcess")
        self.assertEqual(values["DisplayName"], ("REG_SZ", "QUAX Process Collector with Debug Logging"))
        self.assertEqual(values["Start"], ("REG_DWORD", "0x2"), "start type automatic")
        self.assertEqual(values["Type"], ("REG_DWORD", "0x10"), "a service in its own process")
        self.assertEqual(values["ObjectName"], ("REG_SZ", "LocalSystem"))
        # Windows Installer quotes the image path; Wine's msiexec does not.
        self.assertEqual(values["ImagePath"][1].strip('"'), DEFAULT_INSTALL_DIR + "quaxcolsvc.exe")

    def test_started_service_logs_into_the_default_log_directory(self):
        self.assertEqual(self.prefix.service_state(SERVICE), "RUNNING")
        log = self.log_file(DEFAULT_INSTALL_DIR)
        self.assertIsNotNone(log, "no process log with start records in " + DEFAULT_INSTALL_DIR + "QUAXWinProcessLogs")
        self.assertTrue(log.read_text(encoding="latin-1").startswith("RecordType\tProcessId\t"))

    def test_writes_the_install_location_with_its_backslash(self):
        self.assertEqual(self.prefix.registry_values(ADMIN_KEY).get("InstallLocation"),
                         ("REG_SZ", DEFAULT_INSTALL_DIR))

    def test_registers_both_event_sources_with_the_message_files(self):
        for source in ("QUAX", "QUAXWinProcess"):
            values = self.prefix.registry_values(f"{EVENT_SOURCES_KEY}\\{source}")
            self.assertIsNotNone(values, f"no event source {source}")
            self.assertEqual(values.get("EventMessageFile"),
                             ("REG_EXPAND_SZ", DEFAULT_INSTALL_DIR + "QuaxEventMsgs.dll"), source)
            self.assertEqual(values.get("CategoryMessageFile"),
                             ("REG_EXPAND_SZ", DEFAULT_INSTALL_DIR + "QuaxCategoryMsgs.dll"), source)
            self.assertEqual(values.get("TypesSupported"), ("REG_DWORD", "0x7"), source)
            self.assertEqual(values.get("CategoryCount"), ("REG_DWORD", "0x4"), source)

    def test_leaves_appinit_dlls_alone(self):
        self.assertAppInitDllsUntouched()

    def test_installed_command_line_tools_run(self):
        for tool in ("quaxaggregate", "quaxreport"):
            with self.subTest(tool=tool):
                result = self.prefix.run(DEFAULT_INSTALL_DIR + tool + ".exe", "--help")
                self.assertEqual(result.returncode, 0)
                self.assertIn(tool, result.stdout)

    def test_script_creates_the_typed_engine_by_progid_and_sums_with_it(self):
        output = "C:\\typed-engine.txt"
        result = self.prefix.run("cscript", "//nologo", self.prefix.windows_path(SCRIPT), output)
        self.assertEqual(result.returncode, 0, result.stdout)
        # USAGE,start date,end date,start time,end time,,1,"USER","alice",1,CPU,2.75
        records = [line.split(",") for line in self.prefix.unix_path(output).read_text().splitlines()]
        self.assertEqual({fields[8].strip('"'): float(fields[11]) for fields in records},
                         {"alice": 2.75, "bob": 2.0})

    def test_start_menu_holds_a_shortcut_per_administration_program(self):
        # Windows Installer puts the shortcuts of a per-machine package into
        # the machine's Start menu; Wine's msiexec puts them into the user's.
        users_menu, machines_menu = self.programs_menus()
        shortcuts = self.prefix.unix_path(users_menu / "QUAX")
        self.assertEqual(sorted(path.name for path in shortcuts.iterdir()),
                         sorted(title + ".lnk" for title in ADMINISTRATION_PROGRAMS))
        self.assertFalse(self.prefix.unix_path(machines_menu / "QUAX").exists())

    def test_administration_programs_start_from_their_shortcuts(self):
        users_menu = self.programs_menus()[0]
        for title, program in ADMINISTRATION_PROGRAMS.items():
            with self.subTest(program=program):
                shortcut = str(users_menu / "QUAX" / (title + ".lnk"))
                self.assertEqual(self.prefix.start("cmd", "/c", "start", "", shortcut), 0, shortcut)
                # Found by its title, closed; a new installation's settings
                # editor asks whether to save its defaults: No.
                probe = self.prefix.run(OPTIONS.window_probe, title, "--decline", SAVE_CHANGES_CAPTION)
                self.assertEqual(probe.returncode, 0, probe.stdout + probe.stderr.decode("latin-1"))
                self.assertIn("image " + DEFAULT_INSTALL_DIR + program, probe.stdout.splitlines())


class ComRegistration(Scenario):
    """quaxagg.dll's registration by the package against what the library
    registers itself (regsvr32) at the same place, in the same prefix: the
    same keys and values, nothing missing, nothing more."""
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        clean = cls.prefix.registry_tree(CLASSES_KEY)
        server = cls.prefix.unix_path(SERVER)
        server.parent.mkdir(parents=True)
        shutil.copyfile(Path(OPTIONS.stage) / "bin" / "quaxagg.dll", server)
        cls.regsvr32(SERVER)
        cls.self_registered = changes(clean, cls.prefix.registry_tree(CLASSES_KEY))
        cls.regsvr32("/u", SERVER)
        shutil.rmtree(server.parent)
        unregistered = cls.prefix.registry_tree(CLASSES_KEY)
        if changes(clean, unregistered) or changes(unregistered, clean):
            raise AssertionError("regsvr32 /u did not restore the registry")
        if cls.install(current) != 0:
            raise AssertionError("install failed")
        cls.package_registered = changes(clean, cls.prefix.registry_tree(CLASSES_KEY))

    @classmethod
    def regsvr32(cls, *arguments):
        result = cls.prefix.run("regsvr32", "/s", *arguments)
        if result.returncode != 0:
            raise AssertionError(f"regsvr32 {' '.join(arguments)} failed: {result.returncode}")

    def assertSameEntries(self, actual, expected):
        """Registry entries equal, else the ones missing and the ones more."""
        missing = sorted(set(expected.items()) - set(actual.items()), key=repr)
        more = sorted(set(actual.items()) - set(expected.items()), key=repr)
        self.assertEqual({"missing": missing, "more": more}, {"missing": [], "more": []})

    def type_library_key(self):
        keys = [key for key, name in self.self_registered if key.startswith("typelib\\") and name is None]
        self.assertTrue(keys, "the library registered no type library")
        return min(keys, key=len)

    def test_64_bit_view_holds_what_the_library_registers(self):
        self.assertIn(("quaxagg.typedengine\\clsid", ""), self.self_registered)
        expected = {entry: data for entry, data in self.self_registered.items() if not in_32_bit_view(entry)}
        # The library registers its type library's help folder without the
        # final backslash; the package writes the install folder, which
        # Windows Installer gives with one (as its own type library
        # registration does).
        help_folder = (self.type_library_key() + "\\1.0\\helpdir", "")
        self.assertEqual(expected[help_folder], ("REG_SZ", DEFAULT_INSTALL_DIR.rstrip("\\")))
        expected[help_folder] = ("REG_SZ", DEFAULT_INSTALL_DIR)
        path_32 = self.type_library_key() + "\\1.0\\0\\win32"
        actual = {entry: data for entry, data in self.package_registered.items()
                  if not in_32_bit_view(entry) and entry[0] != path_32}
        self.assertSameEntries(actual, expected)

    def test_32_bit_view_holds_the_same_for_the_32_bit_library(self):
        # What the library registers in the 64-bit view, for the copy in
        # x86\ in the 32-bit view (Wine cannot run the i686 regsvr32),
        # beside the interfaces that the type library registration writes
        # into both views.
        expected = {entry: data for entry, data in self.self_registered.items() if in_32_bit_view(entry)}
        for (key, name), data in self.self_registered.items():
            if not in_32_bit_view((key, name)) and not key.startswith(("typelib\\", "interface\\")):
                expected[("wow6432node\\" + key, name)] = ("REG_SZ", SERVER_32) if data == ("REG_SZ", SERVER) else data
        path_32 = self.type_library_key() + "\\1.0\\0\\win32"
        expected[(path_32, None)] = None
        expected[(path_32, "")] = ("REG_SZ", SERVER_32)
        actual = {entry: data for entry, data in self.package_registered.items()
                  if in_32_bit_view(entry) or entry[0] == path_32}
        self.assertSameEntries(actual, expected)


class SilentRemoval(Scenario):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.prefix.set_registry_value(SETTINGS_KEY, "AccountingInterval", "3600")
        cls.classes_before = cls.prefix.registry_tree(CLASSES_KEY)
        if cls.install(current) != 0:
            raise AssertionError("install failed")
        log = cls.log_file(DEFAULT_INSTALL_DIR)
        if log is None:
            raise AssertionError("the service wrote no process log")
        cls.log_before = log.read_bytes()
        cls.log = log
        cls.code = cls.uninstall(cls.prefix.windows_path(current.path))
        cls.classes_after = cls.prefix.registry_tree(CLASSES_KEY)

    def test_succeeds_and_removes_the_service(self):
        self.assertEqual(self.code, 0)
        self.assertIsNone(self.prefix.service_state(SERVICE))
        self.assertIsNone(self.prefix.registry_values(SERVICE_KEY))
        self.assertEqual(self.prefix.process_ids("quaxcolsvc.exe"), [])

    def test_removes_the_program_files(self):
        left = [path for path in current.installed_files() if self.prefix.unix_path(path).exists()]
        service_program = DEFAULT_INSTALL_DIR + "quaxcolsvc.exe"
        if left == [service_program]:
            # Windows Installer waits for the service to stop before it
            # removes files; Wine's msiexec sends the stop and goes on, so
            # the program of a service that is still stopping can stay.
            print(f"\nWine left {service_program}: the service was still stopping when the files were removed")
            left = []
        self.assertEqual(left, [])
        remaining = {entry.name for entry in self.prefix.unix_path(DEFAULT_INSTALL_DIR).iterdir()}
        self.assertEqual(remaining - {"quaxcolsvc.exe"}, {"QUAXWinProcessLogs"})
        for hook in (HOOK, HOOK_32):
            self.assertFalse(self.prefix.unix_path(hook).exists(), hook)

    def test_removes_the_registrations(self):
        self.assertIsNone(self.prefix.registry_values(ADMIN_KEY))
        self.assertIsNone(self.prefix.registry_values(f"{EVENT_SOURCES_KEY}\\QUAX"))
        self.assertIsNone(self.prefix.registry_values(f"{EVENT_SOURCES_KEY}\\QUAXWinProcess"))
        self.assertIsNone(self.registered_version(current))

    def test_removes_every_com_registration_in_both_views(self):
        # No ProgID, class, type library or interface left, nothing else
        # of the machine's classes taken.
        self.assertEqual(changes(self.classes_before, self.classes_after), {}, "left behind")
        # Wine's msiexec also deletes keys that the removal leaves empty and
        # that were there, empty, before: in a fresh prefix the 32-bit
        # view's CLSID and Interface keys (never empty on Windows).
        removed = changes(self.classes_after, self.classes_before)
        self.assertEqual({key for key, name in removed if not self.was_empty(key)}, set(), "removed")

    def was_empty(self, key):
        """Whether key had neither values nor subkeys before the install."""
        return not any((entry_key == key and name is not None) or entry_key.startswith(key + "\\")
                       for entry_key, name in self.classes_before)

    def test_removes_the_shortcuts_and_their_folder(self):
        for menu in self.programs_menus():
            self.assertFalse(self.prefix.unix_path(menu / "QUAX").exists(), menu)

    def test_keeps_the_logs_and_the_settings(self):
        self.assertTrue(self.log.read_bytes().startswith(self.log_before), "the process log was not kept")
        self.assertEqual(self.prefix.registry_values(SETTINGS_KEY), {"AccountingInterval": ("REG_SZ", "3600")})
        self.assertAppInitDllsUntouched()


class UpgradeFromLowerVersion(Scenario):
    """The lower version installed into a folder of the administrator's
    choice with a settings key, then the current one over it."""
    INSTALL_DIR = "C:\\QUAX Collector\\"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.prefix.set_registry_value(SETTINGS_KEY, "LogFilePrefix", "Upgraded-")
        if cls.install(lower, "INSTALLDIR=" + cls.INSTALL_DIR) != 0:
            raise AssertionError("install of the lower version failed")
        log = cls.log_file(cls.INSTALL_DIR, "Upgraded-")
        if log is None:
            raise AssertionError("the lower version's service wrote no process log")
        cls.log = log
        cls.log_before = log.read_bytes()
        cls.services_before = cls.prefix.process_ids("quaxcolsvc.exe")
        cls.code = cls.install(current)

    def test_replaces_the_lower_version(self):
        self.assertEqual(self.code, 0)
        self.assertEqual(self.registered_version(current), current.version)
        self.assertIsNone(self.registered_version(lower))

    def test_stays_in_the_installed_folder(self):
        self.assertFilesInstalled(current, self.INSTALL_DIR)
        self.assertEqual(self.prefix.registry_values(ADMIN_KEY).get("InstallLocation"), ("REG_SZ", self.INSTALL_DIR))
        self.assertFalse(self.prefix.unix_path(DEFAULT_INSTALL_DIR).exists())

    def test_restarts_the_service_with_the_new_installation(self):
        self.assertEqual(self.prefix.service_state(SERVICE), "RUNNING")
        self.assertEqual(self.prefix.registry_values(SERVICE_KEY)["ImagePath"][1].strip('"'),
                         self.INSTALL_DIR + "quaxcolsvc.exe")
        running = self.prefix.process_ids("quaxcolsvc.exe")
        self.assertEqual(len(running), 1, running)
        self.assertNotIn(running[0], self.services_before)

    def test_keeps_settings_and_logs(self):
        self.assertEqual(self.prefix.registry_values(SETTINGS_KEY), {"LogFilePrefix": ("REG_SZ", "Upgraded-")})
        self.assertTrue(self.log.read_bytes().startswith(self.log_before))
        # Only a new run of the collector writes a second start record for
        # a process (same id, same creation time) that the lower version
        # recorded: the restarted service uses the kept settings and file.
        def started_processes(text):
            records = [line.split("\t") for line in text.decode("latin-1").splitlines()]
            return {(fields[1], fields[8]) for fields in records if fields[0] == "S" and len(fields) > 8}
        recorded_before = started_processes(self.log_before)
        recorded_again = wait_until(
            lambda: recorded_before & started_processes(self.log.read_bytes()[len(self.log_before):]), 60)
        self.assertTrue(recorded_again, "the restarted service wrote no start records into the kept log")


class BadCases(Scenario):
    """Refusals with their result codes, each followed by a look at what is
    installed."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        # Wine's msiexec reinstalls the installed product (stopping and
        # starting its service, which Windows Installer leaves alone when
        # nothing changes) and does not wait for the service to stop: a
        # collector without interval accounting stops at once, before the
        # start comes.
        cls.prefix.set_registry_value(SETTINGS_KEY, "AccountingInterval", "0")
        cls.remove_unknown_product = cls.uninstall(current.product_code)
        cls.remove_unknown_package = cls.uninstall(cls.prefix.windows_path(current.path))
        cls.install_32_bit = cls.install(for_32_bit)
        cls.installed_32_bit = cls.prefix.unix_path("C:\\Program Files (x86)\\QUAX").exists()
        cls.install_first = cls.install(current)
        cls.install_again = cls.install(current)
        cls.install_lower = cls.install(lower)

    def test_removing_what_is_not_installed(self):
        self.assertEqual(self.remove_unknown_product, ERROR_UNKNOWN_PRODUCT)
        # Windows answers 1605 for a package that is not installed as well;
        # Wine's msiexec runs the removal of nothing and answers 0.
        self.assertEqual(self.remove_unknown_package, 0)

    def test_package_for_32_bit_windows_is_refused(self):
        self.assertEqual(self.install_32_bit, ERROR_INSTALL_FAILURE)
        self.assertFalse(self.installed_32_bit)
        self.assertIsNone(self.registered_version(for_32_bit))

    def test_installing_twice_keeps_one_working_installation(self):
        self.assertEqual((self.install_first, self.install_again), (0, 0))
        self.assertEqual(self.registered_version(current), current.version)
        self.assertFilesInstalled(current)
        self.assertEqual(self.prefix.service_state(SERVICE), "RUNNING")

    def test_lower_version_is_refused_over_the_current_one(self):
        self.assertEqual(self.install_lower, ERROR_INSTALL_FAILURE)
        self.assertIsNone(self.registered_version(lower))
        self.assertEqual(self.registered_version(current), current.version)
        self.assertFilesInstalled(current)
        self.assertEqual(self.prefix.service_state(SERVICE), "RUNNING")
        self.assertEqual(len(self.prefix.process_ids("quaxcolsvc.exe")), 1)


class OlderWindows(Scenario):
    """The programs use functions of Windows 7: the package's launch
    condition refuses anything older (Wine's msiexec logs no message text)."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.prefix.set_windows_version("vista")
        cls.on_vista = cls.install(current)
        cls.installed_on_vista = cls.prefix.unix_path(DEFAULT_INSTALL_DIR).exists()
        cls.registered_on_vista = cls.prefix.registry_values(f"{UNINSTALL_KEY}\\{current.product_code}")
        cls.prefix.set_windows_version("win7")
        cls.on_windows_7 = cls.install(current)

    def test_windows_vista_is_refused(self):
        self.assertEqual(self.on_vista, ERROR_INSTALL_FAILURE)
        self.assertFalse(self.installed_on_vista)
        self.assertIsNone(self.registered_on_vista)

    def test_windows_7_is_the_oldest_it_installs_on(self):
        self.assertEqual(self.on_windows_7, 0)
        self.assertFilesInstalled(current)


def add_arguments(parser):
    parser.add_argument("--package", required=True)
    parser.add_argument("--stage", required=True)
    parser.add_argument("--stage-32", required=True)
    parser.add_argument("--idl", required=True)
    parser.add_argument("--window-probe", required=True)
    parser.add_argument("--work", required=True)


if __name__ == "__main__":
    sys.exit(report.main(__name__, add_arguments))
