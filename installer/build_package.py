#!/usr/bin/env python3
"""Builds the Windows Installer package from installer/quax.wxs with wixl.

  build_package.py --arch x64|x86 --version X.Y.Z --stage DIR --output FILE.msi
                   [--stage-32 DIR] [--com-server FILE_ID=IDL ...]

--stage is the `cmake --install` prefix of this architecture; its bin/ is
what the package ships. Every file there must be named in quax.wxs, except
console programs: they are the command-line tools and are added here. A
window program or a library that quax.wxs does not name stops the build, so
nothing lands in bin/ without its registration, shortcut or place.
--stage-32 is the install prefix of the i686 build, whose files quax.wxs
names as bin32/... in the x64 package. --com-server registers the file with
that Id as an in-process COM server described by IDL (com_registration.py).

wixl (msitools 0.101) writes Type="expandable" registry values as plain
strings; they are turned into REG_EXPAND_SZ afterwards with msibuild.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile
import uuid
import xml.etree.ElementTree as ET
from pathlib import Path

import com_registration

SOURCE = Path(__file__).resolve().parent / "quax.wxs"
WIX = "{http://schemas.microsoft.com/wix/2006/wi}"
# Product codes are derived from the architecture and the version, so that
# a rebuilt package of the same version is the same product.
PRODUCT_CODE_NAMESPACE = uuid.UUID("2b791351-9a4b-4d85-917a-e0d3bc52e381")
PE_SUBSYSTEM_WINDOWS_GUI = 2
PE_SUBSYSTEM_WINDOWS_CUI = 3
PE_MACHINE_I386 = 0x14C
PE_MACHINE_AMD64 = 0x8664


class PackageError(Exception):
    pass


def parse_version(text):
    """A product version major.minor.build (255.255.65535 at most)."""
    match = re.fullmatch(r"(\d+)\.(\d+)\.(\d+)", text)
    if not match:
        raise PackageError(f"version '{text}' is not major.minor.build")
    version = tuple(int(part) for part in match.groups())
    if version[0] > 255 or version[1] > 255 or version[2] > 65535:
        raise PackageError(f"version '{text}' exceeds 255.255.65535")
    return version


def version_below(text):
    """The highest product version lower than text (for an upgrade test)."""
    major, minor, build = parse_version(text)
    if build:
        return f"{major}.{minor}.{build - 1}"
    if minor:
        return f"{major}.{minor - 1}.65535"
    if major:
        return f"{major - 1}.255.65535"
    raise PackageError("no version is lower than 0.0.0")


def product_code(arch, version):
    parse_version(version)
    return "{" + str(uuid.uuid5(PRODUCT_CODE_NAMESPACE, f"QUAX {arch} {version}")).upper() + "}"


def _pe_headers(path):
    """The first bytes of a PE image and the offset of its PE signature, or
    None when the file is not one."""
    with open(path, "rb") as image:
        header = image.read(4096)
    if len(header) < 0x40 or header[:2] != b"MZ":
        return None
    pe_offset = int.from_bytes(header[0x3C:0x40], "little")
    if pe_offset + 24 + 70 > len(header) or header[pe_offset:pe_offset + 4] != b"PE\0\0":
        return None
    return header, pe_offset


def pe_subsystem(path):
    """The subsystem field of a PE image (2 window program, 3 console
    program), or None when the file is not one."""
    headers = _pe_headers(path)
    if headers is None:
        return None
    header, pe_offset = headers
    optional_header = pe_offset + 24
    return int.from_bytes(header[optional_header + 68:optional_header + 70], "little")


def pe_machine(path):
    """The processor a PE image is built for (PE_MACHINE_...), or None when
    the file is not one."""
    headers = _pe_headers(path)
    if headers is None:
        return None
    header, pe_offset = headers
    return int.from_bytes(header[pe_offset + 4:pe_offset + 6], "little")


def named_sources(source_tree, folder):
    """Names of the files the package source takes from folder/."""
    prefix = folder + "/"
    return {Path(element.get("Source")).name
            for element in source_tree.iter(WIX + "File")
            if element.get("Source", "").startswith(prefix)}


def command_line_tools(bin_directory, named):
    """The files of bin_directory that quax.wxs does not name, all of which
    must be console programs."""
    tools, homeless = [], []
    for path in sorted(Path(bin_directory).iterdir()):
        if path.name in named:
            continue
        if path.suffix.lower() == ".exe" and pe_subsystem(path) == PE_SUBSYSTEM_WINDOWS_CUI:
            tools.append(path.name)
        else:
            homeless.append(path.name)
    if homeless:
        raise PackageError("installed but not placed in installer/quax.wxs: " + ", ".join(homeless)
                           + " (only console programs are added as command-line tools by themselves)")
    return tools


def _parents(tree):
    return {child: parent for parent in tree.iter() for child in parent}


def com_server_component(source_tree, file_id, library, library_values=True):
    """The registration component of the COM server file file_id, in the
    folder and registry view of the component that installs the file."""
    parents = _parents(source_tree)
    files = [element for element in source_tree.iter(WIX + "File") if element.get("Id") == file_id]
    if len(files) != 1:
        raise PackageError(f"--com-server {file_id}: quax.wxs has no File with that Id")
    owner = parents[files[0]]
    directory = parents[owner]
    if directory.tag != WIX + "Directory":
        raise PackageError(f"--com-server {file_id}: its component must sit in a Directory")
    win64 = owner.get("Win64") == "yes"
    component_id = owner.get("Id") + ".Registration"
    return directory.get("Id"), component_id, com_registration.component(
        component_id, library, file_id, directory.get("Id"), win64, library_values=library_values)


def com_server_components(source_tree, com_servers):
    """The registration components of every (file Id, IDL file) of
    com_servers. A further copy of a type library (the 32-bit server beside
    the 64-bit one) adds only its own path to the library's key, which both
    registry views share."""
    components, registered = [], set()
    for file_id, idl_path in com_servers:
        library = com_registration.parse_idl(Path(idl_path).read_text(encoding="utf-8"))
        components.append(com_server_component(source_tree, file_id, library, library.uuid not in registered))
        registered.add(library.uuid)
    return components


def generated_source(tools, win64, com_components):
    """The WiX fragment with the command-line tools and the COM
    registrations."""
    lines = ['<?xml version="1.0" encoding="utf-8"?>',
             '<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">', "<Fragment>",
             '<ComponentGroup Id="CommandLineTools" Directory="INSTALLDIR">']
    for name in tools:
        lines.append(f'  <Component Id="{name}" Guid="*" Win64="{win64}">'
                     f'<File Id="{name}" Name="{name}" Source="bin/{name}" KeyPath="yes"/></Component>')
    lines.append("</ComponentGroup>")
    if com_components:
        for directory_id, _, xml in com_components:
            lines += [f'<DirectoryRef Id="{directory_id}">', xml, "</DirectoryRef>"]
        lines.append('<ComponentGroup Id="ComRegistration">')
        lines += [f'  <ComponentRef Id="{component_id}"/>' for _, component_id, _ in com_components]
        lines.append("</ComponentGroup>")
    lines += ["</Fragment>", "</Wix>", ""]
    return "\n".join(lines)


def expandable_values(source_tree):
    """(Registry row Id, value) of every Type="expandable" value."""
    values = []
    for element in source_tree.iter(WIX + "RegistryValue"):
        if element.get("Type") != "expandable":
            continue
        if not element.get("Id"):
            raise PackageError(f"expandable value {element.get('Name')} needs an Id")
        if "'" in element.get("Value", ""):
            raise PackageError(f"expandable value {element.get('Id')} contains a quote")
        values.append((element.get("Id"), element.get("Value", "")))
    return values


def run(command, cwd=None):
    result = subprocess.run(command, cwd=cwd, capture_output=True, text=True)
    if result.returncode != 0:
        raise PackageError(f"{command[0]} failed ({result.returncode}): {result.stderr.strip()}")
    return result.stdout


def build(arch, version, stage, output, stage_32=None, com_servers=(), source=SOURCE):
    defines = ["-D", f"Arch={arch}", "-D", f"Version={version}",
               "-D", f"ProductCode={product_code(arch, version)}"]
    wixl_arch = ["-a", arch]
    source_tree = ET.fromstring(run(["wixl", "-E", *wixl_arch, *defines, str(source)]))
    tools = command_line_tools(Path(stage) / "bin", named_sources(source_tree, "bin"))
    com_components = com_server_components(source_tree, com_servers)
    output = Path(output).resolve()
    output.parent.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory(dir=output.parent) as work:
        # wixl finds sources relative to its working folder.
        os.symlink(Path(stage).resolve() / "bin", Path(work) / "bin")
        if stage_32:
            os.symlink(Path(stage_32).resolve() / "bin", Path(work) / "bin32")
        generated = Path(work) / "generated.wxs"
        generated.write_text(generated_source(tools, "yes" if arch == "x64" else "no", com_components))
        unfinished = Path(work) / output.name
        run(["wixl", *wixl_arch, *defines, "-o", str(unfinished), str(source), str(generated)], cwd=work)
        for row, value in expandable_values(source_tree):
            run(["msibuild", str(unfinished), "-q",
                 f"UPDATE `Registry` SET `Value` = '#%{value}' WHERE `Registry` = '{row}'"])
        os.replace(unfinished, output)
    return output


def main(arguments):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--arch", choices=["x64", "x86"], required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--stage", required=True)
    parser.add_argument("--stage-32")
    parser.add_argument("--com-server", action="append", default=[], metavar="FILE_ID=IDL")
    parser.add_argument("--output", required=True)
    options = parser.parse_args(arguments)
    try:
        com_servers = [tuple(item.split("=", 1)) for item in options.com_server]
        if any(len(pair) != 2 for pair in com_servers):
            raise PackageError("--com-server takes FILE_ID=IDL")
        build(options.arch, options.version, options.stage, options.output,
              options.stage_32, com_servers)
    except (PackageError, com_registration.IdlError, OSError) as error:
        print(f"build_package: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
