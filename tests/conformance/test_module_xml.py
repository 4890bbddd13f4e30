"""The five module XML descriptions as the reference GenApi implementation reads them: each loads, names the
register layout the modules serve (lengths, access modes, features), and its selectors, SwissKnives and
enumerations behave as the modules expect when driven through a port."""
import pathlib

import pytest
from genicam.genapi import AbstractPort, EAccessMode, NodeMap, is_available, is_writable

RESOURCES = pathlib.Path(__file__).resolve().parents[2] / "resources"

S = "S"  # a size value: the length is the value of Reg_SizeofSizeT (8)
STRING, INTEGER, ENUM, BOOL, COMMAND, NONE = "String", "Integer", "Enumeration", "Boolean", "Command", None

# Every register node of each description, by feature type, length and access: "X" names the register "Reg_X"
# and, unless the type is NONE, the feature "X" whose value it holds. (Their addresses are the code's named
# constants: DynamicResourceDepotTest, the one check that catches a description and the code disagreeing.)
SYSTEM = [
    (STRING, 256, "RO", "TLID TLVendorName TLModelName TLVersion TLPath InterfaceID"),
    (ENUM, 4, "RO", "TLType"),
    (INTEGER, 4, "RO", "GenTLVersionMajor GenTLVersionMinor"),
    (COMMAND, 4, "WO", "InterfaceUpdateList"),
    (INTEGER, 4, "RW", "InterfaceSelector"),
    (NONE, 4, "RO", "InterfaceCount"),
]

INTERFACE = [
    (STRING, 256, "RO", "InterfaceID DeviceID DeviceVendorName DeviceModelName"),
    (ENUM, 4, "RO", "InterfaceType DeviceAccessStatus"),
    (COMMAND, 4, "WO", "DeviceUpdateList"),
    (INTEGER, 4, "RW", "DeviceSelector BoardRegisterIndex BoardRegisterValue"),
    (NONE, 4, "RO", "DeviceCount BoardRegisterIndex_Cnt DeviceOpen"),
    (STRING, 260, "RW", "CurrentCameraFile"),
    (BOOL, 4, "RO", "CameraFileSettable"),
    (STRING, 256, "RW", "BoardRegisterName"),
    (NONE, 4, "RW", "BoardRegisterValid"),
]

DEVICE = [
    (STRING, 256, "RO", "DeviceID DeviceVendorName DeviceModelName StreamID"),
    (ENUM, 4, "RO", "DeviceType"),
    (INTEGER, 4, "RW", "StreamSelector XmlUrlSelector"),
    (NONE, 4, "RO", "StreamCount"),
    (STRING, 260, "WO", "CacheExternalXmlFile"),
    (COMMAND, 4, "WO", "DeleteSelectedXmlCacheEntry SyncCacheWithCamera"),
    (STRING, 260, "RO", "XmlUrlPath"),
    (INTEGER, 4, "RO", "XmlFileCount"),
]

DATASTREAM = [
    (STRING, 256, "RO", "StreamID"),
    (INTEGER, 8, "RO", "StreamDeliveredFrameCount StreamLostFrameCount StreamStartedFrameCount"),
    (INTEGER, S, "RO", "StreamAnnouncedBufferCount StreamInputBufferCount StreamOutputBufferCount PayloadSize "
                       "StreamChunkCountMaximum StreamAnnounceBufferMinimum StreamBufferAlignment "
                       "GrabberBufferCountAllocated GrabberBufferCountMinimum"),
    (BOOL, 1, "RO", "StreamIsGrabbing"),
    (NONE, 4, "RO", "SizeofSizeT"),
    (ENUM, 4, "RO", "StreamType"),
    (INTEGER, S, "RW", "GrabberBufferCountDesired GrabberBufferCopyOffset"),
    (INTEGER, 4, "RW", "OffsetX OffsetY Width Height"),
    (INTEGER, 4, "RO", "WidthMax HeightMax"),
]

BUFFER = [
    (INTEGER, S, "RO", "BufferSize BufferUserData BufferWidth BufferHeight BufferXOffset BufferYOffset BufferXPadding "
                       "BufferYPadding BufferImageOffset BufferDeliveredImageHeight BufferSizeFilled"),
    (NONE, S, "RO", "BufferDataSize"),
    (INTEGER, 8, "RO", "BufferTimeStamp BufferFrameID"),
    (BOOL, 1, "RO", "BufferNewData BufferIsQueued BufferIsAcquiring BufferIsIncomplete BufferImagePresent"),
    (ENUM, S, "RO", "BufferPayloadType"),
    (ENUM, 8, "RO", "BufferPixelFormat"),
    (NONE, 4, "RO", "SizeofSizeT"),
    (NONE, "BufferSize", "RW", "BufferData"),  # the buffer's data: a register named without "Reg_"
]

TYPES = {"GigEVision": 0, "CameraLink": 1, "CameraLinkHS": 2, "CoaXPress": 3, "USB3Vision": 4}

ENUMERATIONS = {
    "TLSystem.xml": {"TLType": {**TYPES, "Mixed": 5, "Custom": 6}},
    "TLInterface.xml": {
        "InterfaceType": {**TYPES, "Custom": 5},
        "DeviceAccessStatus": {"Unknown": 0, "ReadWrite": 1, "ReadOnly": 2, "NoAccess": 3},
    },
    "TLDevice.xml": {"DeviceType": {**TYPES, "Custom": 5}},
    "TLDatastream.xml": {
        "StreamType": {**TYPES, "Custom": 5},
        "StreamAcquisitionModeSelector": {"Default": 0},
        "StreamBufferHandlingMode": {"Default": 0},
    },
    "TLBuffer.xml": {
        "BufferPayloadType": {"Unknown": 0, "Image": 1, "RawData": 2, "File": 3, "ChunkData": 4},
        "BufferPixelFormat": {
            "RAW": 0x80000000, "Mono8": 0x01080001, "Mono10": 0x01100003, "Mono12": 0x01100005,
            "Mono14": 0x01100025, "Mono16": 0x01100007, "RGB8": 0x02180014, "RGB10p32": 0x0220001D,
            "RGB8a32": 0x82200020, "RGB12u48": 0x82300024, "RGB14u48": 0x8230002A, "RGB16": 0x02300033,
        },
    },
}

# file, port node, register table
MODULES = [
    ("TLSystem.xml", "TLPort", SYSTEM),
    ("TLInterface.xml", "TLInterface", INTERFACE),
    ("TLDevice.xml", "DevicePort", DEVICE),
    ("TLDatastream.xml", "StreamPort", DATASTREAM),
    ("TLBuffer.xml", "BufferPort", BUFFER),
]


class MemoryPort(AbstractPort):
    """A register space in memory; `computed` maps an address to a function that answers its bytes."""

    def __init__(self, size=0x10000):
        super().__init__()
        self.memory = bytearray(size)
        self.computed = {}
        self.writes = []

    def read(self, address, length):
        if address in self.computed:
            return self.computed[address](length)
        if address >= len(self.memory):
            return bytes(length)
        return bytes(self.memory[address:address + length])

    def write(self, address, value):
        self.writes.append((address, bytes(value)))
        self.memory[address:address + len(value)] = value

    def get_access_mode(self):
        return EAccessMode.RW

    def put(self, address, value, length=4):
        self.memory[address:address + length] = value.to_bytes(length, "little")

    def put_text(self, address, text, length=256):
        self.memory[address:address + length] = text.encode().ljust(length, b"\0")


def load(file_name):
    node_map = NodeMap()
    node_map.load_xml_from_file(str(RESOURCES / file_name))
    return node_map


def connected(file_name, port_name, size_t=8):
    node_map = load(file_name)
    port = MemoryPort()
    port.put(0x0500, size_t)  # Reg_SizeofSizeT where the description has one
    node_map.connect(port, port_name)
    return node_map, port


def prop(node, name):
    return node.node.get_property(name)[0]


@pytest.mark.parametrize("file_name,port_name,table", MODULES, ids=[m[0] for m in MODULES])
def test_description_loads_with_schema_and_file_version_and_its_port(file_name, port_name, table):
    raw = (RESOURCES / file_name).read_bytes()
    assert raw.startswith(b'<?xml version="1.0" encoding="utf-8"?>\r\n')
    assert b"\n" not in raw.replace(b"\r\n", b"")  # CRLF line ends only
    raw.decode("ascii")

    node_map = load(file_name)
    result = node_map.parse_swiss_knives()
    assert result.is_valid, list(result.messages)

    info = node_map.device_info
    schema, version = info.get_schema_version(), info.get_device_version()
    assert (schema.Major, schema.Minor, schema.SubMinor) == (1, 1, 0)
    assert (version.Major, version.Minor, version.SubMinor) == (1, 0, 0)
    # The module file name the producer announces is "<vendor>_<model>.xml".
    assert f"{info.vendor_name}_{info.model_name}.xml" == "Vantrel_VNGTL2_" + file_name

    ports = [n.node.name for n in node_map.nodes if prop(n, "NodeType") == "Port"]
    assert ports == [port_name]


def registers(table):
    """(register, feature, feature type, length, access) of every node a table names."""
    for feature_type, length, access, names in table:
        for name in names.split():
            register = name if length == "BufferSize" else "Reg_" + name
            yield register, (None if feature_type is None else name), feature_type, length, access


@pytest.mark.parametrize("file_name,port_name,table", MODULES, ids=[m[0] for m in MODULES])
def test_register_nodes_have_the_tabled_lengths_access_and_features(file_name, port_name, table):
    node_map, port = connected(file_name, port_name)
    port.put(0x0008, 0x1234, 8)  # the buffer's size, the length of BufferData

    nodes = {n.node.name for n in node_map.nodes
             if prop(n, "NodeType") in ("IntReg", "StringReg", "Register", "MaskedIntReg", "FloatReg")}
    assert nodes == {row[0] for row in registers(table)}

    for register, feature, feature_type, length, access in registers(table):
        node = node_map.get_node(register)
        assert prop(node, "AccessMode") == access, register
        assert prop(node, "pPort") == port_name, register
        if length == S:
            assert prop(node, "pLength") == "Reg_SizeofSizeT", register
            assert node.length == 8, register
        elif length == "BufferSize":
            assert prop(node, "pLength") == "Reg_BufferDataSize"
            assert node.length == 0x1234
        else:
            assert int(prop(node, "Length")) == length, register
        if prop(node, "NodeType") == "IntReg":
            assert prop(node, "Sign") == "Unsigned", register
            assert prop(node, "Endianess") == "LittleEndian", register
        if feature is not None:
            feature_node = node_map.get_node(feature)
            assert prop(feature_node, "NodeType") == feature_type, feature
            assert prop(feature_node, "pValue") == register, feature
            assert feature_node.node.is_feature()


@pytest.mark.parametrize("file_name", list(ENUMERATIONS))
def test_enumerations_have_the_tabled_entries(file_name):
    node_map = load(file_name)
    for name, entries in ENUMERATIONS[file_name].items():
        enumeration = node_map.get_node(name)
        assert {e.symbolic: e.value for e in enumeration.entries} == entries, name


def test_system_interface_features_wait_for_an_interface_and_the_update_rereads_the_count():
    # (The walk over the producer's interfaces: test_modules.py.)
    node_map, port = connected("TLSystem.xml", "TLPort")
    assert not is_available(node_map.InterfaceSelector)  # no interface yet
    assert not is_available(node_map.InterfaceID)
    node_map.InterfaceUpdateList.execute()
    assert port.writes[-1] == (0x500C, (1).to_bytes(4, "little"))

    port.put(0x5014, 3)
    node_map.InterfaceUpdateList.execute()  # a new list: the count is read again
    assert node_map.InterfaceCount.value == 3
    assert is_available(node_map.InterfaceSelector)
    assert (node_map.InterfaceSelector.min, node_map.InterfaceSelector.max) == (0, 2)


def test_interface_device_selection_camera_file_and_board_registers():
    node_map, port = connected("TLInterface.xml", "TLInterface")
    port.put(0x050C, 1)
    port.put_text(0x0510, "TLDevice")
    port.put(0x0810, 2)
    assert node_map.DeviceCount.value == 1
    assert (node_map.DeviceSelector.min, node_map.DeviceSelector.max) == (0, 0)
    # The selected device's own values are there while it is open (Reg_DeviceOpen), and not before.
    device_values = ("DeviceID", "DeviceVendorName", "DeviceModelName", "DeviceAccessStatus")
    assert [is_available(node_map.get_node(name)) for name in device_values] == [False] * 4
    port.put(0x0B28, 1)
    assert [is_available(node_map.get_node(name)) for name in device_values] == [True] * 4
    assert node_map.DeviceID.value == "TLDevice"
    assert node_map.DeviceAccessStatus.value == "ReadOnly"

    # The camera file is locked while it cannot be set.
    port.put_text(0x0910, "mono8.cam", 260)
    assert node_map.CurrentCameraFile.value == "mono8.cam"
    assert not is_writable(node_map.CurrentCameraFile)
    port.put(0x0A14, 1)
    node_map.CameraFileSettable.node.invalidate_node()
    assert is_writable(node_map.CurrentCameraFile)
    node_map.CurrentCameraFile.value = "rgb8.cam"
    assert port.memory[0x0910:0x0919] == b"rgb8.cam\0"

    # The board-register window: none without board registers.
    assert not is_available(node_map.BoardRegisterIndex)
    assert not is_available(node_map.BoardRegisterValue)

    # (With registers, selecting one by name or index: test_modules.py.)


def test_device_xml_cache_features_are_for_coaxpress_devices_only():
    node_map, port = connected("TLDevice.xml", "DevicePort")
    port.put(0x5000, 1)
    assert node_map.DeviceType.value == "CameraLink"
    for name in ("CacheExternalXmlFile", "DeleteSelectedXmlCacheEntry", "SyncCacheWithCamera"):
        assert not is_available(node_map.get_node(name)), name
    assert not is_available(node_map.XmlUrlSelector)  # no XML file listed

    node_map, port = connected("TLDevice.xml", "DevicePort")
    port.put(0x5000, 3)
    port.put(0x531C, 2)
    assert (node_map.XmlUrlSelector.min, node_map.XmlUrlSelector.max) == (0, 1)
    for name in ("CacheExternalXmlFile", "DeleteSelectedXmlCacheEntry", "SyncCacheWithCamera"):
        assert is_available(node_map.get_node(name)), name
    node_map.CacheExternalXmlFile.value = "/tmp/camera.zip"
    assert port.memory[0x510C:0x511C] == b"/tmp/camera.zip\0"
    node_map.SyncCacheWithCamera.execute()
    assert port.writes[-1] == (0x5320, (1).to_bytes(4, "little"))


def test_stream_limits_and_locks_follow_the_registers():
    # (Size values eight bytes long, the buffer's data as long as its size, and the enumerations' entries: the
    # table tests above.)
    node_map, port = connected("TLDatastream.xml", "StreamPort")
    port.put(0x0508, 10, 8)   # desired
    port.put(0x0518, 2, 8)    # minimum
    port.put(0x0538, 1024)    # WidthMax
    port.put(0x053C, 768)     # HeightMax
    assert node_map.GrabberBufferCountDesired.min == 2
    assert (node_map.GrabberBufferCopyOffset.min, node_map.GrabberBufferCopyOffset.max) == (0, 9)
    assert (node_map.OffsetX.min, node_map.OffsetX.max) == (0, 1023)
    assert (node_map.OffsetY.min, node_map.OffsetY.max) == (0, 767)
    assert (node_map.Width.min, node_map.Width.max) == (1, 1024)
    assert (node_map.Height.min, node_map.Height.max) == (1, 768)

    node_map.Width.value = 640
    assert port.memory[0x0530:0x0534] == (640).to_bytes(4, "little")
    port.put(0x0138, 1, 1)  # grabbing: the region and the buffer count are locked
    for name in ("OffsetX", "OffsetY", "Width", "Height", "GrabberBufferCountDesired"):
        assert not is_writable(node_map.get_node(name)), name
    assert node_map.StreamIsGrabbing.value is True
