#!/usr/bin/env python3
"""The package logic without Wine: versions and product codes, what the
install folder may hold, the COM registration read from an IDL file, the
shortcuts of the built package, and the package for 32-bit Windows (which
cannot be installed here).

  package_test.py --package quax-V-x64.msi --stage STAGE --idl QUAXAGG.IDL --report FILE.xml"""
import shutil
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))
sys.path.insert(0, str(Path(__file__).resolve().parent))

import build_package  # noqa: E402
import com_registration  # noqa: E402
import report  # noqa: E402
from build_package import PackageError  # noqa: E402
from com_registration import IdlError  # noqa: E402
from wine_prefix import msi_table, quaxagg_servers  # noqa: E402

OPTIONS = None  # set by report.main
COMPONENT_64_BIT = 256


def pe_image(subsystem):
    """The headers of a PE image with the given subsystem, no more."""
    header = bytearray(0x200)
    header[0:2] = b"MZ"
    header[0x3C:0x40] = (0x80).to_bytes(4, "little")
    header[0x80:0x84] = b"PE\0\0"
    optional_header = 0x80 + 24
    header[optional_header:optional_header + 2] = (0x20B).to_bytes(2, "little")
    header[optional_header + 68:optional_header + 70] = subsystem.to_bytes(2, "little")
    return bytes(header)


class VersionsAndProductCodes(unittest.TestCase):
    def test_version_below_steps_back_in_the_last_place_that_can(self):
        self.assertEqual(build_package.version_below("1.2.3"), "1.2.2")
        self.assertEqual(build_package.version_below("1.2.0"), "1.1.65535")
        self.assertEqual(build_package.version_below("1.0.0"), "0.255.65535")
        with self.assertRaises(PackageError):
            build_package.version_below("0.0.0")

    def test_versions_windows_installer_cannot_hold_are_refused(self):
        for version in ("1.0", "1.0.0.0", "256.0.0", "1.256.0", "1.0.65536", "1.0.x", ""):
            with self.subTest(version=version), self.assertRaises(PackageError):
                build_package.parse_version(version)

    def test_product_code_is_one_per_architecture_and_version(self):
        code = build_package.product_code("x64", "1.0.0")
        self.assertRegex(code, r"^\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\}$")
        self.assertEqual(build_package.product_code("x64", "1.0.0"), code)
        self.assertNotEqual(build_package.product_code("x64", "1.0.1"), code)
        self.assertNotEqual(build_package.product_code("x86", "1.0.0"), code)


class InstallFolderContents(unittest.TestCase):
    def setUp(self):
        self.bin = Path(tempfile.mkdtemp())
        self.addCleanup(shutil.rmtree, self.bin)

    def add(self, name, content):
        (self.bin / name).write_bytes(content)

    def test_unnamed_console_programs_become_the_command_line_tools(self):
        self.add("quaxcolsvc.exe", pe_image(build_package.PE_SUBSYSTEM_WINDOWS_CUI))
        self.add("quaxlog.exe", pe_image(build_package.PE_SUBSYSTEM_WINDOWS_CUI))
        self.add("quaxbill.exe", pe_image(build_package.PE_SUBSYSTEM_WINDOWS_CUI))
        self.assertEqual(build_package.command_line_tools(self.bin, {"quaxcolsvc.exe"}), ["quaxbill.exe", "quaxlog.exe"])

    def test_anything_else_unnamed_stops_the_build(self):
        cases = {"quaxadmin.exe": pe_image(build_package.PE_SUBSYSTEM_WINDOWS_GUI),
                 "server.dll": pe_image(build_package.PE_SUBSYSTEM_WINDOWS_GUI),
                 "notes.exe": b"not an image",
                 "cut.exe": pe_image(build_package.PE_SUBSYSTEM_WINDOWS_CUI)[:0x90]}
        for name, content in cases.items():
            with self.subTest(name=name):
                self.add(name, content)
                with self.assertRaisesRegex(PackageError, name):
                    build_package.command_line_tools(self.bin, set())
                (self.bin / name).unlink()

    def test_subsystems_of_the_built_deliverables(self):
        stage_bin = Path(OPTIONS.stage) / "bin"
        self.assertEqual(build_package.pe_subsystem(stage_bin / "quaxcolsvc.exe"),
                         build_package.PE_SUBSYSTEM_WINDOWS_CUI)
        self.assertEqual(build_package.pe_subsystem(stage_bin / "quaxaggregate.exe"),
                         build_package.PE_SUBSYSTEM_WINDOWS_CUI)


SAMPLE_IDL = r"""
// [uuid(99999999-9999-9999-9999-999999999999)] coclass InComment {};
import "oaidl.idl";
[object, uuid(11111111-0000-0000-0000-000000000001), dual, helpstring("Engine, the \"typed\" one [1]")]
interface _Engine : IDispatch {
    [id(1), propget] HRESULT LastErrorMessage([out, retval] BSTR* value);
};
[object, uuid(11111111-0000-0000-0000-000000000002), oleautomation]
interface IFormat : IUnknown { HRESULT Format([in] long value); };
[object, uuid(11111111-0000-0000-0000-000000000003)]
interface IPrivate : IUnknown { HRESULT Nothing(); };
[
  uuid(11111111-0000-0000-0000-0000000000AA),
  version(1.10),
  hidden,
  helpstring("Sample automation library")
]
library sampleagg
{
    importlib("stdole2.tlb");
    interface _Engine;
    [uuid(11111111-0000-0000-0000-000000000004)]
    dispinterface __Engine { properties: methods: [id(1)] void Progress([in] long done); };
    [uuid(11111111-0000-0000-0000-000000000010), helpstring("Engine")]
    coclass Engine {
        [default] interface _Engine;
        [default, source] dispinterface __Engine;
    };
    [uuid(11111111-0000-0000-0000-000000000011)]
    coclass Formatter { [default] interface IFormat; };
    [uuid(11111111-0000-0000-0000-000000000012), noncreatable]
    coclass Inner { [default] interface IFormat; };
};
"""


class ComRegistrationFromIdl(unittest.TestCase):
    def test_reads_the_library_its_creatable_classes_and_automation_interfaces(self):
        library = com_registration.parse_idl(SAMPLE_IDL)
        self.assertEqual((library.name, library.uuid, library.version, library.description),
                         ("sampleagg", "{11111111-0000-0000-0000-0000000000AA}", (1, 10), "Sample automation library"))
        # hidden, and "has disk image" as every library read from a file
        self.assertEqual(library.flags, 4 | 8)
        self.assertEqual([(cls.name, cls.uuid, cls.description) for cls in library.classes],
                         [("Engine", "{11111111-0000-0000-0000-000000000010}", "Engine"),
                          ("Formatter", "{11111111-0000-0000-0000-000000000011}", "Formatter")])
        self.assertEqual([(interface.name, interface.marshaller) for interface in library.interfaces],
                         [("_Engine", com_registration.TYPE_LIBRARY_MARSHALLER),
                          ("IFormat", com_registration.TYPE_LIBRARY_MARSHALLER),
                          ("__Engine", com_registration.DISPATCH_MARSHALLER)])

    def test_refuses_idl_it_cannot_register(self):
        cases = {
            "no library": "[uuid(11111111-0000-0000-0000-000000000010)] coclass A {};",
            "two libraries": "[uuid(11111111-0000-0000-0000-000000000001)] library a { "
                             "[uuid(11111111-0000-0000-0000-000000000010)] coclass A {}; };"
                             "[uuid(11111111-0000-0000-0000-000000000002)] library b {};",
            "malformed uuid": "[uuid(1111-0000)] library a {};",
            "malformed version": "[uuid(11111111-0000-0000-0000-000000000001), version(one)] library a {};",
            "no creatable class": "[uuid(11111111-0000-0000-0000-000000000001)] library a { "
                                  "[uuid(11111111-0000-0000-0000-000000000010), noncreatable] coclass A {}; };",
        }
        for case, idl in cases.items():
            with self.subTest(case=case), self.assertRaises(IdlError):
                com_registration.parse_idl(idl)

    def test_registry_entries_of_a_class_the_type_library_and_an_interface(self):
        library = com_registration.parse_idl(SAMPLE_IDL)
        entries = com_registration.registry_entries(library, "[#server]", "[SERVERDIR]", win64=False)
        clsid = r"CLSID\{11111111-0000-0000-0000-000000000010}"
        typelib = r"TypeLib\{11111111-0000-0000-0000-0000000000AA}\1.a"
        interface = r"Interface\{11111111-0000-0000-0000-000000000004}"
        for entry in [
            (clsid + r"\InprocServer32", None, "[#server]"),
            (clsid + r"\InprocServer32", "ThreadingModel", "Apartment"),
            (clsid + r"\ProgID", None, "sampleagg.Engine.1"),
            (clsid + r"\VersionIndependentProgID", None, "sampleagg.Engine"),
            (clsid + r"\TypeLib", None, library.uuid),
            (clsid + r"\Version", None, "1.10"),
            ("sampleagg.Engine", None, "Engine"),
            ("sampleagg.Engine\\CLSID", None, "{11111111-0000-0000-0000-000000000010}"),
            ("sampleagg.Engine\\CurVer", None, "sampleagg.Engine.1"),
            ("sampleagg.Engine.1", None, "Engine"),
            ("sampleagg.Engine.1\\CLSID", None, "{11111111-0000-0000-0000-000000000010}"),
            ("sampleagg.Formatter\\CLSID", None, "{11111111-0000-0000-0000-000000000011}"),
            ("sampleagg.Formatter.1\\CLSID", None, "{11111111-0000-0000-0000-000000000011}"),
            (typelib, None, "Sample automation library"),
            (typelib + r"\0\win32", None, "[#server]"),
            (typelib + r"\FLAGS", None, "12"),
            (typelib + r"\HELPDIR", None, "[SERVERDIR]"),
            (interface + r"\ProxyStubClsid32", None, com_registration.DISPATCH_MARSHALLER),
            (interface + r"\TypeLib", "Version", "1.a"),
        ]:
            self.assertIn(entry, entries)
        self.assertFalse([key for key, _, _ in entries if "win64" in key or "Inner" in key
                          or "{11111111-0000-0000-0000-000000000003}" in key])
        win64_entries = com_registration.registry_entries(library, "[#server]", "[SERVERDIR]", win64=True)
        self.assertIn((typelib + r"\0\win64", None, "[#server]"), win64_entries)

    def test_a_further_copy_adds_only_its_path_to_the_shared_type_library_key(self):
        library = com_registration.parse_idl(SAMPLE_IDL)
        entries = com_registration.registry_entries(library, "[#server32]", "[SERVERDIR32]", win64=False,
                                                    library_values=False)
        typelib = r"TypeLib\{11111111-0000-0000-0000-0000000000AA}"
        self.assertEqual([entry for entry in entries if entry[0].startswith(typelib)],
                         [(typelib + r"\1.a\0\win32", None, "[#server32]")])
        self.assertIn(("sampleagg.Engine\\CLSID", None, "{11111111-0000-0000-0000-000000000010}"), entries)

    def test_both_copies_of_a_server_are_registered_each_in_its_view(self):
        source = SERVER_SOURCE
        with tempfile.TemporaryDirectory() as work:
            work = Path(work)
            for folder in ("stage/bin", "stage32/bin"):
                (work / folder).mkdir(parents=True)
                (work / folder / "sample.dll").write_bytes(pe_image(build_package.PE_SUBSYSTEM_WINDOWS_GUI))
            (work / "sample.wxs").write_text(source)
            (work / "sample.idl").write_text(SAMPLE_IDL)
            package = build_package.build(
                "x64", "1.0.0", work / "stage", work / "sample.msi", stage_32=work / "stage32",
                com_servers=[("sample.dll", work / "sample.idl"), ("sample32.dll", work / "sample.idl")],
                source=work / "sample.wxs")
            components = {row["Component"]: int(row["Attributes"]) for row in msi_table(package, "Component")}
            rows = msi_table(package, "Registry")
        self.assertTrue(components["Server.Registration"] & COMPONENT_64_BIT)
        self.assertFalse(components["Server32.Registration"] & COMPONENT_64_BIT)
        typelib = r"TypeLib\{11111111-0000-0000-0000-0000000000AA}\1.a\0"
        self.assertIn(("0", typelib + r"\win64", "[#sample.dll]", "Server.Registration"),
                      [(row["Root"], row["Key"], row["Value"], row["Component_"]) for row in rows])
        self.assertIn(("0", typelib + r"\win32", "[#sample32.dll]", "Server32.Registration"),
                      [(row["Root"], row["Key"], row["Value"], row["Component_"]) for row in rows])
        progids = [row for row in rows if row["Key"] == "sampleagg.Engine\\CLSID"]
        self.assertEqual(sorted(row["Component_"] for row in progids), ["Server.Registration", "Server32.Registration"])
        # The library's own values come once, from the first server.
        helpdir = [row for row in rows if row["Key"].endswith(r"\1.a\HELPDIR")]
        self.assertEqual([(row["Value"], row["Component_"]) for row in helpdir],
                         [("[INSTALLDIR]", "Server.Registration")])

    def test_a_server_the_source_does_not_install_is_refused(self):
        with tempfile.TemporaryDirectory() as work:
            (Path(work) / "sample.idl").write_text(SAMPLE_IDL)
            with self.assertRaisesRegex(PackageError, "missing.dll"):
                build_package.build("x64", "1.0.0", Path(OPTIONS.stage), Path(work) / "out.msi",
                                    com_servers=[("missing.dll", Path(work) / "sample.idl")])


# A package with one COM server in both registry views.
SERVER_SOURCE = """<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="$(var.ProductCode)" Name="Sample" Language="1033" Version="$(var.Version)"
           Manufacturer="Sample" UpgradeCode="5E4C2E57-4D0B-4C1E-9E43-000000000001">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
    <Media Id="1" Cabinet="sample.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFiles64Folder">
        <Directory Id="INSTALLDIR" Name="Sample">
          <Component Id="Server" Guid="*" Win64="yes">
            <File Id="sample.dll" Name="sample.dll" Source="bin/sample.dll" KeyPath="yes"/>
          </Component>
          <Directory Id="INSTALLDIR32" Name="x86">
            <Component Id="Server32" Guid="*" Win64="no">
              <File Id="sample32.dll" Name="sample.dll" Source="bin32/sample.dll" KeyPath="yes"/>
            </Component>
          </Directory>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Complete" Level="1">
      <ComponentRef Id="Server"/>
      <ComponentRef Id="Server32"/>
      <ComponentGroupRef Id="CommandLineTools"/>
      <ComponentGroupRef Id="ComRegistration"/>
    </Feature>
  </Product>
</Wix>
"""


def assert_tools_installed(test, package):
    """quaxbill and quaxreport, beside each other in the install folder."""
    component_of = {row["FileName"].split("|")[-1]: row["Component_"] for row in msi_table(package, "File")}
    folder_of = {row["Component"]: row["Directory_"] for row in msi_table(package, "Component")}
    for tool in ("quaxbill.exe", "quaxreport.exe"):
        test.assertIn(tool, component_of)
        test.assertEqual(folder_of[component_of[tool]], "INSTALLDIR", tool)


class BuiltPackage(unittest.TestCase):
    """The x64 package the build made: what Wine does not tell apart."""

    def test_shortcuts_are_plain_shortcuts_to_the_installed_programs(self):
        # A Target naming the file makes a plain shortcut; an advertised
        # one would name a feature and could repair the package when used.
        # wixl ignores Advertise="no".
        shortcuts = msi_table(OPTIONS.package, "Shortcut")
        self.assertEqual(sorted((row["Target"], row["WkDir"]) for row in shortcuts),
                         [("[#quaxhookadmin.exe]", "INSTALLDIR"), ("[#quaxsvcadmin.exe]", "INSTALLDIR")])

    def test_carries_the_bill_and_report_tools_in_the_install_folder(self):
        assert_tools_installed(self, OPTIONS.package)


class OldestWindows(unittest.TestCase):
    def test_both_packages_refuse_windows_before_7_with_a_message(self):
        work = Path(tempfile.mkdtemp())
        self.addCleanup(shutil.rmtree, work)
        x86 = build_package.build("x86", "1.0.0", Path(OPTIONS.stage), work / "quax-x86.msi",
                                  com_servers=quaxagg_servers("x86", OPTIONS.idl))
        for package in (OPTIONS.package, x86):
            with self.subTest(package=Path(package).name):
                conditions = {row["Condition"]: row["Description"] for row in msi_table(package, "LaunchCondition")}
                self.assertEqual(conditions.get("Installed OR VersionNT >= 601"),
                                 "QUAX Process Accounting needs Windows 7 or later.")


class PackageFor32BitWindows(unittest.TestCase):
    """Built here from the 64-bit files: only its layout is looked at."""

    @classmethod
    def setUpClass(cls):
        work = Path(tempfile.mkdtemp())
        cls.addClassCleanup(shutil.rmtree, work)
        package = build_package.build("x86", "1.0.0", Path(OPTIONS.stage), work / "quax-x86.msi",
                                      com_servers=quaxagg_servers("x86", OPTIONS.idl))
        cls.package = package
        cls.components = msi_table(package, "Component")
        cls.directories = {row["Directory"]: row["Directory_Parent"] for row in msi_table(package, "Directory")}
        cls.search = msi_table(package, "RegLocator")

    def test_everything_in_the_32_bit_folders_and_registry_view(self):
        self.assertEqual([row["Component"] for row in self.components
                          if int(row["Attributes"]) & COMPONENT_64_BIT], [])
        hook = next(row for row in self.components if row["Component"] == "InProcessCollector")
        self.assertEqual(hook["Directory_"], "SystemFolder")
        self.assertEqual(self.directories["INSTALLDIR"], "ProgramFilesFolder")
        # quaxagg.dll once, registered with its type library's own values.
        self.assertNotIn("INSTALLDIR32", self.directories)
        self.assertIn("AggregationLibrary.Registration", [row["Component"] for row in self.components])
        # The installed location is looked up in the 32-bit view as well.
        self.assertEqual([int(row["Type"]) & 16 for row in self.search], [0])

    def test_carries_the_bill_and_report_tools_in_the_install_folder(self):
        assert_tools_installed(self, self.package)


def add_arguments(parser):
    parser.add_argument("--package", required=True)
    parser.add_argument("--stage", required=True)
    parser.add_argument("--idl", required=True)


if __name__ == "__main__":
    sys.exit(report.main(__name__, add_arguments))
