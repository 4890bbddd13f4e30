#!/usr/bin/env python3
"""vngtl features MODULE: one module's features and their values, as a GenApi consumer sees them.

The module's description is fetched through its own port from the URL the port announces, loaded into the
reference GenApi implementation (the `genicam` package) and connected to the same port, so every value shown
is read from the producer through GCReadPort, with the description's formulas, selectors and availability
evaluated exactly as a consumer evaluates them.

MODULE: system | interface N | device N | stream N | camera N  (N: the interface's index, default 0)
"""
import argparse
import os
import pathlib
import re
import sys
import tempfile
import urllib.parse

MODULES = ("system", "interface", "device", "stream", "camera")


def fail(message: str) -> "NoReturn":  # noqa: F821
    print(f"vngtl features: {message}", file=sys.stderr)
    sys.exit(1)


try:
    from genicam import gentl
    from genicam.genapi import AbstractPort, EAccessMode, EInterfaceType, NodeMap
except ImportError as error:
    fail(f"needs the GenICam reference implementation's Python package 'genicam' ({error}); "
         "run this with a Python that has it (VNGTL_PYTHON), e.g. the project's .venv/bin/python")


class ModulePort(AbstractPort):
    """A GenTL port of the producer as the node map's port."""

    def __init__(self, port):
        super().__init__()
        self.port = port

    def read(self, address, length):
        return bytes(self.port.read(address, length)[1])

    def write(self, address, value):
        self.port.write(address, bytes(value))

    def get_access_mode(self):
        return EAccessMode.RW


def load_description(port) -> NodeMap:
    """The node map of the port's first XML URL: local (read through the port, plain or zipped) or file."""
    urls = list(port.url_info_list)
    if not urls:
        fail("the module's port announces no XML URL")
    url = urls[0].url
    node_map = NodeMap()
    scheme, _, rest = url.partition(":")
    if scheme.lower() == "local":
        match = re.fullmatch(r"/*([^;]+);([0-9A-Fa-f]+);([0-9A-Fa-f]+)(\?.*)?", rest)
        if not match:
            fail(f"cannot read the URL {url!r}")
        name, address, length = match.group(1), int(match.group(2), 16), int(match.group(3), 16)
        data = bytes(port.read(address, length)[1])
        if name.lower().endswith(".zip") or data.startswith(b"PK"):
            with tempfile.TemporaryDirectory() as directory:
                path = pathlib.Path(directory) / "description.zip"
                path.write_bytes(data)
                node_map.load_xml_from_zip_file(str(path))
        else:
            node_map.load_xml_from_string(data.decode("utf-8"))
    elif scheme.lower() == "file":
        path = urllib.parse.unquote(urllib.parse.urlparse(url).path)
        if path.lower().endswith(".zip"):
            node_map.load_xml_from_zip_file(path)
        else:
            node_map.load_xml_from_file(path)
    else:
        fail(f"the description's URL {url!r} is not local: or file: (fetch it into the XML cache first)")
    node_map.connect(ModulePort(port), port.name)
    return node_map


def value_text(node) -> str:
    """A feature's value as text, or why there is none."""
    kind = node.node.principal_interface_type
    access = node.node.get_access_mode()
    if access == EAccessMode.NI:
        return "(not implemented)"
    if access == EAccessMode.NA:
        return "(not available)"
    if kind == EInterfaceType.intfICommand:
        return "(command)"
    if access == EAccessMode.WO:
        return "(write only)"
    try:
        if kind == EInterfaceType.intfIEnumeration:
            return node.to_string()
        if kind == EInterfaceType.intfIBoolean:
            return "true" if node.value else "false"
        if kind == EInterfaceType.intfIFloat:
            unit = node.unit if hasattr(node, "unit") else ""
            return f"{node.value:g}" + (f" {unit}" if unit else "")
        if kind == EInterfaceType.intfIInteger:
            unit = node.unit if hasattr(node, "unit") else ""
            return str(node.value) + (f" {unit}" if unit else "")
        return node.to_string()
    except Exception as error:  # a read the producer refuses shows its reason, the listing goes on
        return f"(error: {str(error).splitlines()[0]})"


def list_features(node_map: NodeMap, category: str, depth: int, seen: set) -> None:
    node = node_map.get_node(category)
    for feature in node.features:
        name = feature.node.name
        if name in seen:
            continue
        seen.add(name)
        if feature.node.principal_interface_type == EInterfaceType.intfICategory:
            print(f"{'  ' * depth}{name}")
            list_features(node_map, name, depth + 1, seen)
        else:
            print(f"{'  ' * depth}{name:<{max(40 - 2 * depth, 1)}} {value_text(feature)}")


def interface_at(system, index: int):
    system.update_interface_info_list(1000)
    infos = list(system.interface_info_list)
    if index >= len(infos):
        fail(f"there is no interface {index} ({len(infos)} found)")
    iface = infos[index].create_interface()
    iface.open()
    return iface


def device_of(iface):
    iface.update_device_info_list(1000)
    infos = list(iface.device_info_list)
    if not infos:
        fail("the interface has no device")
    device = infos[0].create_device()
    device.open(gentl.DEVICE_ACCESS_FLAGS_LIST.DEVICE_ACCESS_CONTROL)
    return device


def main() -> int:
    parser = argparse.ArgumentParser(prog="vngtl features", description=__doc__.split("\n\n")[0])
    parser.add_argument("--cti", required=True, help="the producer to load")
    parser.add_argument("module", help="|".join(MODULES))
    parser.add_argument("index", nargs="?", default="0", help="the interface's index (default 0)")
    args = parser.parse_args()
    if args.module not in MODULES:
        fail(f"unknown module {args.module!r}: one of {', '.join(MODULES)}")
    if not args.index.isdigit():
        fail(f"the interface index must be a number, not {args.index!r}")
    index = int(args.index)

    producer = gentl.GenTLProducer.create_producer()
    try:
        producer.open(args.cti)
    except Exception as error:
        fail(f"cannot load {args.cti}: {error}")
    print(f"producer: {args.cti}")
    opened = []
    try:
        system = producer.create_system()
        system.open()
        opened.append(system)
        module = system
        if args.module != "system":
            module = interface_at(system, index)
            opened.append(module)
        if args.module in ("device", "stream", "camera"):
            module = device_of(module)
            opened.append(module)
        if args.module == "stream":
            ids = list(module.data_stream_ids)
            if not ids:
                fail("the device has no data stream")
            stream = module.create_data_stream()
            stream.open(ids[0])
            opened.append(stream)
            module = stream
        if args.module == "camera":
            try:
                port = module.remote_port
                port.name, list(port.url_info_list)
            except Exception as error:
                fail(f"the device of interface {index} has no camera port: {str(error).splitlines()[0]}")
        else:
            port = module.local_port if args.module == "device" else module.port
        print(f"{args.module}{'' if args.module == 'system' else f' {index}'}: port {port.name}, "
              f"{port.url_info_list[0].url if len(port.url_info_list) else '(no URL)'}")
        node_map = load_description(port)
        if not node_map.has_node("Root"):
            fail("the description has no Root category")
        list_features(node_map, "Root", 0, set())
        del node_map
    except SystemExit:
        raise
    except Exception as error:
        fail(str(error).splitlines()[0] if str(error) else type(error).__name__)
    finally:
        for module in reversed(opened):
            try:
                module.close()
            except Exception:
                pass
        producer.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
