"""Registry entries of an in-process COM server, read from its IDL file.

The package writes (and on removal deletes) what the server's own
registration (regsvr32) writes: each creatable class with its
version-independent ProgID ("<library>.<class>", CurVer naming the
versioned one) and its versioned ProgID ("<library>.<class>.<major version
of the library>"), the type library, and the automation interfaces with
their marshallers, as the system's type library registration writes them.
Nothing of the server runs at install time, and the 32-bit copy of a server
is registered from a 64-bit package all the same.
"""
import re
from dataclasses import dataclass, field
from xml.sax.saxutils import quoteattr

# Marshallers of automation interfaces: through the type library for dual
# and [oleautomation] interfaces, through IDispatch for dispinterfaces.
TYPE_LIBRARY_MARSHALLER = "{00020424-0000-0000-C000-000000000046}"
DISPATCH_MARSHALLER = "{00020420-0000-0000-C000-000000000046}"

# Library flags (restricted, control, hidden) as the type library holds them;
# a library loaded from a file also has "has disk image", which the
# registration writes with them.
_LIBRARY_FLAGS = {"restricted": 1, "control": 2, "hidden": 4}
LIBRARY_FLAG_HAS_DISK_IMAGE = 8

_UUID = re.compile(r"^[0-9A-Fa-f]{8}(-[0-9A-Fa-f]{4}){3}-[0-9A-Fa-f]{12}$")
_COMMENT_OR_STRING = re.compile(r'//[^\n]*|/\*.*?\*/|("(?:\\.|[^"\\\n])*")', re.S)
# An attribute list followed by the definition it belongs to.
_DEFINITION = re.compile(
    r'\[(?P<attributes>(?:[^\[\]"]|"(?:\\.|[^"\\])*")*)\]\s*'
    r'(?P<kind>library|coclass|interface|dispinterface)\s+(?P<name>[A-Za-z_]\w*)')


class IdlError(ValueError):
    pass


@dataclass
class CoClass:
    name: str
    uuid: str
    description: str


@dataclass
class AutomationInterface:
    name: str
    uuid: str
    marshaller: str


@dataclass
class TypeLibrary:
    name: str
    uuid: str
    version: tuple
    description: str
    flags: int = 0
    classes: list = field(default_factory=list)
    interfaces: list = field(default_factory=list)


def _split_attributes(text):
    """Splits 'uuid(...), helpstring("a, b"), dual' at its top-level commas
    into {name: argument text or None}."""
    items, depth, current, in_string = {}, 0, "", False
    for index, char in enumerate(text + ","):
        if in_string:
            current += char
            if char == '"' and text[index - 1] != "\\":
                in_string = False
            continue
        if char == '"':
            in_string = True
        elif char == "(":
            depth += 1
        elif char == ")":
            depth -= 1
        elif char == "," and depth == 0:
            item = current.strip()
            if item:
                name, _, argument = item.partition("(")
                items[name.strip()] = argument.rstrip(")").strip() if argument else None
            current = ""
            continue
        current += char
    return items


def _unquote(argument):
    if argument is None:
        return ""
    if len(argument) < 2 or argument[0] != '"' or argument[-1] != '"':
        raise IdlError(f"expected a quoted text, found {argument}")
    return argument[1:-1].replace('\\"', '"')


def _uuid(argument, owner):
    text = (argument or "").strip().strip('"')
    if not _UUID.match(text):
        raise IdlError(f"{owner}: malformed uuid '{argument}'")
    return "{" + text.upper() + "}"


def _version(argument, owner):
    match = re.fullmatch(r"\s*(\d+)(?:\.(\d+))?\s*", argument or "")
    if not match:
        raise IdlError(f"{owner}: malformed version '{argument}'")
    return int(match.group(1)), int(match.group(2) or 0)


def parse_idl(text):
    """The library, its creatable classes and its automation interfaces.
    Definitions without a uuid (references inside a coclass, forward
    declarations) are not definitions and are passed over."""
    text = _COMMENT_OR_STRING.sub(lambda m: m.group(1) or " ", text)
    library = None
    classes, interfaces = [], []
    for match in _DEFINITION.finditer(text):
        attributes = _split_attributes(match.group("attributes"))
        if "uuid" not in attributes:
            continue
        kind, name = match.group("kind"), match.group("name")
        uuid = _uuid(attributes["uuid"], name)
        description = _unquote(attributes.get("helpstring")) or name
        if kind == "library":
            if library is not None:
                raise IdlError(f"more than one library: {library.name} and {name}")
            flags = sum(bit for attribute, bit in _LIBRARY_FLAGS.items() if attribute in attributes)
            library = TypeLibrary(name, uuid, _version(attributes.get("version", "0.0"), name), description,
                                  flags | LIBRARY_FLAG_HAS_DISK_IMAGE)
        elif kind == "coclass":
            if "noncreatable" not in attributes:
                classes.append(CoClass(name, uuid, description))
        elif kind == "dispinterface":
            interfaces.append(AutomationInterface(name, uuid, DISPATCH_MARSHALLER))
        elif "dual" in attributes or "oleautomation" in attributes:
            interfaces.append(AutomationInterface(name, uuid, TYPE_LIBRARY_MARSHALLER))
    if library is None:
        raise IdlError("no library with a uuid")
    if not classes:
        raise IdlError(f"library {library.name} has no creatable class")
    library.classes, library.interfaces = classes, interfaces
    return library


def registry_entries(library, server_path, server_folder, win64, threading_model="Apartment",
                     library_values=True):
    """(key under HKEY_CLASSES_ROOT, value name or None, text) of every value
    that registers the server. server_path and server_folder are Windows
    Installer formatted texts ([#FileId], [DirectoryId]).

    The type library's key is one for both registry views on 64-bit
    Windows: its description, FLAGS and HELPDIR are written by one copy of
    the server (library_values), every copy adds the path for its platform
    (win32 or win64)."""
    major, minor = library.version
    class_version = f"{major}.{minor}"
    # The type library registration writes its versions in hexadecimal.
    typelib_version = f"{major:x}.{minor:x}"
    entries = []
    for cls in library.classes:
        progid = f"{library.name}.{cls.name}"
        versioned_progid = f"{progid}.{major}"
        clsid_key = f"CLSID\\{cls.uuid}"
        entries += [
            (clsid_key, None, cls.description),
            (clsid_key + "\\InprocServer32", None, server_path),
            (clsid_key + "\\InprocServer32", "ThreadingModel", threading_model),
            (clsid_key + "\\ProgID", None, versioned_progid),
            (clsid_key + "\\VersionIndependentProgID", None, progid),
            (clsid_key + "\\TypeLib", None, library.uuid),
            (clsid_key + "\\Version", None, class_version),
            (progid, None, cls.description),
            (progid + "\\CLSID", None, cls.uuid),
            (progid + "\\CurVer", None, versioned_progid),
            (versioned_progid, None, cls.description),
            (versioned_progid + "\\CLSID", None, cls.uuid),
        ]
    typelib_key = f"TypeLib\\{library.uuid}\\{typelib_version}"
    if library_values:
        entries += [
            (typelib_key, None, library.description),
            (typelib_key + "\\FLAGS", None, str(library.flags)),
            (typelib_key + "\\HELPDIR", None, server_folder),
        ]
    entries.append((typelib_key + "\\0\\" + ("win64" if win64 else "win32"), None, server_path))
    for interface in library.interfaces:
        interface_key = f"Interface\\{interface.uuid}"
        entries += [
            (interface_key, None, interface.name),
            (interface_key + "\\ProxyStubClsid", None, interface.marshaller),
            (interface_key + "\\ProxyStubClsid32", None, interface.marshaller),
            (interface_key + "\\TypeLib", None, library.uuid),
            (interface_key + "\\TypeLib", "Version", typelib_version),
        ]
    return entries


def component(component_id, library, file_id, directory_id, win64, threading_model="Apartment",
              library_values=True):
    """A WiX component holding the registration of the server installed as
    file file_id in folder directory_id; win64 chooses the registry view.
    It belongs in a DirectoryRef of directory_id."""
    lines = [f'<Component Id={quoteattr(component_id)} Guid="*" Win64="{"yes" if win64 else "no"}">']
    entries = registry_entries(library, f"[#{file_id}]", f"[{directory_id}]", win64, threading_model,
                               library_values)
    for index, (key, name, value) in enumerate(entries):
        name_attribute = f" Name={quoteattr(name)}" if name else ""
        key_path = ' KeyPath="yes"' if index == 0 else ""
        lines.append(f'  <RegistryValue Root="HKCR" Key={quoteattr(key)}{name_attribute} '
                     f'Type="string" Value={quoteattr(value)}{key_path}/>')
    lines.append("</Component>")
    return "\n".join(lines)
