#!/usr/bin/env python3
"""The package under Wine: silent install, removal, upgrade and the bad
cases, each scenario in a fresh prefix.

  installer_test.py --package quax-V-x64.msi --stage STAGE --work DIR --report FILE.xml

--stage is the install prefix the package was built from: the lower version
for the upgrade and the package for 32-bit Windows are built from the same
files here."""
import datetime
import sys
import unittest
from pathlib import Path, PureWindowsPath

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))
sys.path.insert(0, str(Path(__file__).resolve().parent))

import build_package  # noqa: E402
import report  # noqa: E402
from wine_prefix import Package, WinePrefix, ensure_template, wait_until  # noqa: E402

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

current = lower = for_32_bit = template = None


def setUpModule():
    global current, lower, for_32_bit, template
    work = Path(OPTIONS.work)
    template = ensure_template(work / "template")
    current = Package(OPTIONS.package)
    # From the same files: the highest version below this one, and the
    # package for 32-bit Windows.
    lower = Package(build_package.build("x64", build_package.version_below(current.version), OPTIONS.stage,
                                        work / "packages" / "lower-x64.msi"))
    for_32_bit = Package(build_package.build("x86", current.version, OPTIONS.stage,
                                             work / "packages" / "same-x86.msi"))


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
        self.assertTrue(self.prefix.unix_path(r"C:\windows\system32\quaxcolhook.dll").is_file(),
                        "the in-process collector belongs in System32")

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

    def test_installed_command_line_tool_runs(self):
        result = self.prefix.run(DEFAULT_INSTALL_DIR + "quaxaggregate.exe", "--help")
        self.assertEqual(result.returncode, 0)
        self.assertIn("quaxaggregate", result.stdout)


class SilentRemoval(Scenario):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.prefix.set_registry_value(SETTINGS_KEY, "AccountingInterval", "3600")
        if cls.install(current) != 0:
            raise AssertionError("install failed")
        log = cls.log_file(DEFAULT_INSTALL_DIR)
        if log is None:
            raise AssertionError("the service wrote no process log")
        cls.log_before = log.read_bytes()
        cls.log = log
        cls.code = cls.uninstall(cls.prefix.windows_path(current.path))

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

    def test_removes_the_registrations(self):
        self.assertIsNone(self.prefix.registry_values(ADMIN_KEY))
        self.assertIsNone(self.prefix.registry_values(f"{EVENT_SOURCES_KEY}\\QUAX"))
        self.assertIsNone(self.prefix.registry_values(f"{EVENT_SOURCES_KEY}\\QUAXWinProcess"))
        self.assertIsNone(self.registered_version(current))

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


def add_arguments(parser):
    parser.add_argument("--package", required=True)
    parser.add_argument("--stage", required=True)
    parser.add_argument("--work", required=True)


if __name__ == "__main__":
    sys.exit(report.main(__name__, add_arguments))
