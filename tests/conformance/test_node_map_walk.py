"""Every node map the producer serves, walked as GenApi consumers walk them: the system, each interface (with its
device closed and open), each device (open, and closed again), each data stream, a buffer and both cameras.
Each feature's availability and access mode are asked, every readable value is read and every writable value
is written back, through the reference GenApi over the producer's own ports (GCReadPort/GCWritePort, driven
here with ctypes as a C consumer drives them). A read or write may fail only where the producer refuses by
design; those refusals are listed below with their texts, and anything else fails the test."""
import ctypes
import pathlib
import re
import tempfile
import urllib.parse

import pytest
from genicam.genapi import AbstractPort, EAccessMode, EInterfaceType, NodeMap

INFO_STRING = 1
URL_INFO_URL = 0
DEVICE_ACCESS_CONTROL = 3
EVENT_NEW_BUFFER = 1
STREAM_INFO_PAYLOAD_SIZE = 7


class GenTLError(Exception):
    def __init__(self, function, code, record):
        super().__init__(f"{function} answered {code}: {record}")
        self.code = code
        self.record = record


class Producer:
    """The exported functions of the .cti, called as a C consumer calls them; a failure raises with the
    calling thread's last-error record."""

    def __init__(self, cti):
        self.lib = ctypes.CDLL(cti)
        vp, sz, u32, i32, u64 = ctypes.c_void_p, ctypes.c_size_t, ctypes.c_uint32, ctypes.c_int32, ctypes.c_uint64
        p = ctypes.POINTER
        signatures = {
            "GCInitLib": [], "GCCloseLib": [], "GCGetLastError": [p(i32), ctypes.c_char_p, p(sz)],
            "TLOpen": [p(vp)], "TLClose": [vp], "TLUpdateInterfaceList": [vp, p(ctypes.c_uint8), u64],
            "TLGetNumInterfaces": [vp, p(u32)], "TLGetInterfaceID": [vp, u32, ctypes.c_char_p, p(sz)],
            "TLOpenInterface": [vp, ctypes.c_char_p, p(vp)], "IFClose": [vp],
            "IFUpdateDeviceList": [vp, p(ctypes.c_uint8), u64],
            "IFOpenDevice": [vp, ctypes.c_char_p, i32, p(vp)], "DevClose": [vp], "DevGetPort": [vp, p(vp)],
            "DevOpenDataStream": [vp, ctypes.c_char_p, p(vp)], "DSClose": [vp],
            "DSGetInfo": [vp, i32, p(i32), vp, p(sz)], "DSAllocAndAnnounceBuffer": [vp, sz, vp, p(vp)],
            "DSQueueBuffer": [vp, vp], "GCRegisterEvent": [vp, i32, p(vp)], "EventGetData": [vp, vp, p(sz), u64],
            "DSStartAcquisition": [vp, i32, u64], "DSStopAcquisition": [vp, i32],
            "GCReadPort": [vp, u64, vp, p(sz)], "GCWritePort": [vp, u64, vp, p(sz)],
            "GCGetNumPortURLs": [vp, p(u32)], "GCGetPortURLInfo": [vp, u32, i32, p(i32), vp, p(sz)],
        }
        for name, argtypes in signatures.items():
            function = getattr(self.lib, name)
            function.argtypes = argtypes
            function.restype = ctypes.c_int32

    def last_error(self):
        code, text, size = ctypes.c_int32(0), ctypes.create_string_buffer(4096), ctypes.c_size_t(4096)
        self.lib.GCGetLastError(ctypes.byref(code), text, ctypes.byref(size))
        return text.value.decode(errors="replace")

    def __call__(self, name, *args):
        code = getattr(self.lib, name)(*args)
        if code != 0:
            raise GenTLError(name, code, self.last_error())

    def opened(self, name, *args):
        handle = ctypes.c_void_p()
        self(name, *args, ctypes.byref(handle))
        return handle

    def read(self, port, address, length):
        data = ctypes.create_string_buffer(length)
        size = ctypes.c_size_t(length)
        self("GCReadPort", port, address, data, ctypes.byref(size))
        return data.raw[:size.value]

    def url(self, port):
        count = ctypes.c_uint32(0)
        self("GCGetNumPortURLs", port, ctypes.byref(count))
        assert count.value >= 1
        kind, text, size = ctypes.c_int32(0), ctypes.create_string_buffer(4096), ctypes.c_size_t(4096)
        self("GCGetPortURLInfo", port, 0, URL_INFO_URL, ctypes.byref(kind), text, ctypes.byref(size))
        return text.value.decode()


class Port(AbstractPort):
    """One of the producer's ports as a node map's port."""

    def __init__(self, producer, handle):
        super().__init__()
        self.producer, self.handle = producer, handle

    def read(self, address, length):
        return self.producer.read(self.handle, address, length)

    def write(self, address, value):
        data = bytes(value)
        size = ctypes.c_size_t(len(data))
        self.producer("GCWritePort", self.handle, address, data, ctypes.byref(size))

    def get_access_mode(self):
        return EAccessMode.RW


def node_map_of(producer, handle):
    """The node map of the port's first URL (local:, plain or zipped, or file:), connected to the port."""
    url = producer.url(handle)
    node_map = NodeMap()
    scheme, _, rest = url.partition(":")
    if scheme.lower() == "local":
        name, address, length = re.fullmatch(r"/*([^;]+);([0-9A-Fa-f]+);([0-9A-Fa-f]+)(\?.*)?", rest).group(1, 2, 3)
        data = producer.read(handle, int(address, 16), int(length, 16))
        if name.lower().endswith(".zip") or data.startswith(b"PK"):
            with tempfile.TemporaryDirectory() as directory:
                path = pathlib.Path(directory) / "description.zip"
                path.write_bytes(data)
                node_map.load_xml_from_zip_file(str(path))
        else:
            node_map.load_xml_from_string(data.decode("utf-8"))
    else:
        assert scheme.lower() == "file", url
        path = urllib.parse.unquote(urllib.parse.urlparse(url).path)
        (node_map.load_xml_from_zip_file if path.lower().endswith(".zip") else node_map.load_xml_from_file)(path)
    port = Port(producer, handle)
    port_names = [n.node.name for n in node_map.nodes if n.node.get_property("NodeType")[0] == "Port"]
    node_map.connect(port, port_names[0])
    return node_map, port


SKIPPED = (EInterfaceType.intfICategory, EInterfaceType.intfIPort, EInterfaceType.intfIEnumEntry,
           EInterfaceType.intfICommand, EInterfaceType.intfIBase)


def walk(node_map, where):
    """Every feature as a walker sees it; the failures as (where, feature, step, message)."""
    failures = []
    visited = 0
    for node in node_map.nodes:
        kind = node.node.principal_interface_type
        if kind in SKIPPED or not node.node.is_feature():
            continue
        name = node.node.name
        step = "access mode"
        try:
            access = node.node.get_access_mode()
            if access in (EAccessMode.NI, EAccessMode.NA, EAccessMode.WO):
                continue
            visited += 1
            step = "read"
            if kind == EInterfaceType.intfIRegister:
                value = node.get(node.length)
            elif kind == EInterfaceType.intfIEnumeration:
                value = node.get_int_value()
            else:
                value = node.value
            if access == EAccessMode.RW:
                step = "write back"
                if kind == EInterfaceType.intfIRegister:
                    node.set(value)
                elif kind == EInterfaceType.intfIEnumeration:
                    node.set_int_value(value)
                else:
                    node.value = value
        except Exception as error:  # noqa: BLE001 - every refusal is collected and judged below
            failures.append((where, name, step, " ".join(str(error).split())))
    assert visited > 0, f"{where}: no feature was readable"
    return failures


# The refusals the producer makes by design, as (node map, features, text in the message): a closed device
# has no stream list and no camera port for its XML-cache features, and a buffer's image data is read-only
# although its description offers it as RW. Which of a group's features trips first depends on the order in
# which GenApi evaluates and caches them, so each rule names the group; each rule must apply on each board,
# so that a change shows.
BY_DESIGN = [
    ("closed device", {"StreamCount", "StreamSelector", "StreamID"}, "exists, but is not open."),
    ("closed device", {"XmlFileCount", "XmlUrlSelector", "XmlUrlPath"}, "isn't available."),
    ("buffer", {"BufferData"}, "is not writable."),
]


def rule_of(failure):
    """The index of the rule that allows a failure, or None."""
    where, feature, _, message = failure
    for index, (node_map, features, text) in enumerate(BY_DESIGN):
        if where.startswith(node_map) and feature in features and text in message:
            return index
    return None


@pytest.fixture
def producer(cti, sim):
    producer = Producer(cti)
    assert producer.lib.GCInitLib() == 0
    yield producer
    assert producer.lib.GCCloseLib() == 0


def test_every_feature_of_every_node_map_reads_and_writes_back(producer):
    failures = []

    def visit(handle, where):
        node_map, port = node_map_of(producer, handle)
        failures.extend(walk(node_map, where))
        return node_map, port

    system = producer.opened("TLOpen")
    visit(system, "system")
    changed = ctypes.c_uint8(0)
    producer("TLUpdateInterfaceList", system, ctypes.byref(changed), 1000)
    count = ctypes.c_uint32(0)
    producer("TLGetNumInterfaces", system, ctypes.byref(count))
    assert count.value == 2  # the simulator's CoaXPress and Camera Link boards
    for index in range(count.value):
        text, size = ctypes.create_string_buffer(512), ctypes.c_size_t(512)
        producer("TLGetInterfaceID", system, index, text, ctypes.byref(size))
        iface = producer.opened("TLOpenInterface", system, text.value)
        producer("IFUpdateDeviceList", iface, ctypes.byref(changed), 1000)
        # The interface describes its device both before the device is opened and while it is.
        visit(iface, f"interface {index}, device closed")
        device = producer.opened("IFOpenDevice", iface, b"TLDevice", DEVICE_ACCESS_CONTROL)
        visit(iface, f"interface {index}, device open")
        visit(device, f"open device {index}")
        visit(producer.opened("DevGetPort", device), f"camera {index}")

        stream = producer.opened("DevOpenDataStream", device, b"TLDataStream")
        payload, kind, size = ctypes.c_size_t(0), ctypes.c_int32(0), ctypes.c_size_t(8)
        producer("DSGetInfo", stream, STREAM_INFO_PAYLOAD_SIZE, ctypes.byref(kind), ctypes.byref(payload), ctypes.byref(size))
        buffer = producer.opened("DSAllocAndAnnounceBuffer", stream, payload.value, None)
        producer("DSQueueBuffer", stream, buffer)
        event = producer.opened("GCRegisterEvent", stream, EVENT_NEW_BUFFER)
        producer("DSStartAcquisition", stream, 0, 1)
        data, size = (ctypes.c_void_p * 2)(), ctypes.c_size_t(16)
        producer("EventGetData", event, data, ctypes.byref(size), 5000)
        producer("DSStopAcquisition", stream, 0)
        visit(stream, f"stream {index}")
        visit(buffer, f"buffer {index}")  # the filled buffer, its image included

        producer("DSClose", stream)
        producer("DevClose", device)
        visit(device, f"closed device {index}")
        visit(iface, f"interface {index}, device closed again")
    unexpected = [f for f in failures if rule_of(f) is None]
    assert unexpected == [], "\n".join(" | ".join(f) for f in unexpected)
    applied = {(rule_of(f), f[0].rsplit(" ", 1)[1]) for f in failures}
    assert applied == {(rule, str(board)) for rule in range(len(BY_DESIGN)) for board in range(count.value)}
