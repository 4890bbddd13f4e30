"""The five module XML descriptions as the reference GenApi implementation reads them: each loads, names the
register layout the modules serve (addresses, lengths, access modes), and its selectors, SwissKnives and
enumerations behave as the modules expect when driven through a port."""
import pathlib
import struct

import pytest
from genicam.genapi import AbstractPort, EAccessMode, NodeMap, is_available, is_writable

RESOURCES = pathlib.Path(__file__).resolve().parents[2] / "resources"

S = "S"  # a size value: the length is the value of Reg_SizeofSizeT (8)
STRING, INTEGER, ENUM, BOOL, COMMAND, NONE = "String", "Integer", "Enumeration", "Boolean", "Command", None

# register, feature, feature type, address, length, access
SYSTEM = [
    ("Reg_TLID", "TLID", STRING, 0x0000, 256, "RO"),
    ("Reg_TLVendorName", "TLVendorName", STRING, 0x0100, 256, "RO"),
    ("Reg_TLModelName", "TLModelName", STRING, 0x0200, 256, "RO"),
    ("Reg_TLVersion", "TLVersion", STRING, 0x0300, 256, "RO"),
    ("Reg_TLPath", "TLPath", STRING, 0x0600, 256, "RO"),
    ("Reg_TLType", "TLType", ENUM, 0x5000, 4, "RO"),
    ("Reg_GenTLVersionMajor", "GenTLVersionMajor", INTEGER, 0x5004, 4, "RO"),
    ("Reg_GenTLVersionMinor", "GenTLVersionMinor", INTEGER, 0x5008, 4, "RO"),
    ("Reg_InterfaceUpdateList", "InterfaceUpdateList", COMMAND, 0x500C, 4, "WO"),
    ("Reg_InterfaceSelector", "InterfaceSelector", INTEGER, 0x5010, 4, "RW"),
    ("Reg_InterfaceCount", NONE, NONE, 0x5014, 4, "RO"),
    ("Reg_InterfaceID", "InterfaceID", STRING, 0x5018, 256, "RO"),
]

INTERFACE = [
    ("Reg_InterfaceID", "InterfaceID", STRING, 0x0000, 256, "RO"),
    ("Reg_InterfaceType", "InterfaceType", ENUM, 0x0500, 4, "RO"),
    ("Reg_DeviceUpdateList", "DeviceUpdateList", COMMAND, 0x0504, 4, "WO"),
    ("Reg_DeviceSelector", "DeviceSelector", INTEGER, 0x0508, 4, "RW"),
    ("Reg_DeviceCount", NONE, NONE, 0x050C, 4, "RO"),
    ("Reg_DeviceID", "DeviceID", STRING, 0x0510, 256, "RO"),
    ("Reg_DeviceVendorName", "DeviceVendorName", STRING, 0x0610, 256, "RO"),
    ("Reg_DeviceModelName", "DeviceModelName", STRING, 0x0710, 256, "RO"),
    ("Reg_DeviceAccessStatus", "DeviceAccessStatus", ENUM, 0x0810, 4, "RO"),
    ("Reg_CurrentCameraFile", "CurrentCameraFile", STRING, 0x0910, 260, "RW"),
    ("Reg_CameraFileSettable", "CameraFileSettable", BOOL, 0x0A14, 4, "RO"),
    ("Reg_BoardRegisterIndex", "BoardRegisterIndex", INTEGER, 0x0A18, 4, "RW"),
    ("Reg_BoardRegisterIndex_Cnt", NONE, NONE, 0x0A1C, 4, "RO"),
    ("Reg_BoardRegisterName", "BoardRegisterName", STRING, 0x0A20, 256, "RW"),
    ("Reg_BoardRegisterValue", "BoardRegisterValue", INTEGER, 0x0B20, 4, "RW"),
    ("Reg_BoardRegisterValid", NONE, NONE, 0x0B24, 4, "RW"),
    ("Reg_DeviceOpen", NONE, NONE, 0x0B28, 4, "RO"),
]

DEVICE = [
    ("Reg_DeviceID", "DeviceID", STRING, 0x0000, 256, "RO"),
    ("Reg_DeviceVendorName", "DeviceVendorName", STRING, 0x0100, 256, "RO"),
    ("Reg_DeviceModelName", "DeviceModelName", STRING, 0x0200, 256, "RO"),
    ("Reg_DeviceType", "DeviceType", ENUM, 0x5000, 4, "RO"),
    ("Reg_StreamSelector", "StreamSelector", INTEGER, 0x5004, 4, "RW"),
    ("Reg_StreamCount", NONE, NONE, 0x5008, 4, "RO"),
    ("Reg_StreamID", "StreamID", STRING, 0x500C, 256, "RO"),
    ("Reg_CacheExternalXmlFile", "CacheExternalXmlFile", STRING, 0x510C, 260, "WO"),
    ("Reg_DeleteSelectedXmlCacheEntry", "DeleteSelectedXmlCacheEntry", COMMAND, 0x5210, 4, "WO"),
    ("Reg_XmlUrlSelector", "XmlUrlSelector", INTEGER, 0x5214, 4, "RW"),
    ("Reg_XmlUrlPath", "XmlUrlPath", STRING, 0x5218, 260, "RO"),
    ("Reg_XmlFileCount", "XmlFileCount", INTEGER, 0x531C, 4, "RO"),
    ("Reg_SyncCacheWithCamera", "SyncCacheWithCamera", COMMAND, 0x5320, 4, "WO"),
]

DATASTREAM = [
    ("Reg_StreamID", "StreamID", STRING, 0x0000, 256, "RO"),
    ("Reg_StreamDeliveredFrameCount", "StreamDeliveredFrameCount", INTEGER, 0x0100, 8, "RO"),
    ("Reg_StreamLostFrameCount", "StreamLostFrameCount", INTEGER, 0x0108, 8, "RO"),
    ("Reg_StreamAnnouncedBufferCount", "StreamAnnouncedBufferCount", INTEGER, 0x0110, S, "RO"),
    ("Reg_StreamInputBufferCount", "StreamInputBufferCount", INTEGER, 0x0118, S, "RO"),
    ("Reg_StreamOutputBufferCount", "StreamOutputBufferCount", INTEGER, 0x0120, S, "RO"),
    ("Reg_StreamStartedFrameCount", "StreamStartedFrameCount", INTEGER, 0x0128, 8, "RO"),
    ("Reg_PayloadSize", "PayloadSize", INTEGER, 0x0130, S, "RO"),
    ("Reg_StreamIsGrabbing", "StreamIsGrabbing", BOOL, 0x0138, 1, "RO"),
    ("Reg_StreamChunkCountMaximum", "StreamChunkCountMaximum", INTEGER, 0x0240, S, "RO"),
    ("Reg_StreamAnnounceBufferMinimum", "StreamAnnounceBufferMinimum", INTEGER, 0x0248, S, "RO"),
    ("Reg_StreamBufferAlignment", "StreamBufferAlignment", INTEGER, 0x0250, S, "RO"),
    ("Reg_SizeofSizeT", NONE, NONE, 0x0500, 4, "RO"),
    ("Reg_StreamType", "StreamType", ENUM, 0x0504, 4, "RO"),
    ("Reg_GrabberBufferCountDesired", "GrabberBufferCountDesired", INTEGER, 0x0508, S, "RW"),
    ("Reg_GrabberBufferCountAllocated", "GrabberBufferCountAllocated", INTEGER, 0x0510, S, "RO"),
    ("Reg_GrabberBufferCountMinimum", "GrabberBufferCountMinimum", INTEGER, 0x0518, S, "RO"),
    ("Reg_GrabberBufferCopyOffset", "GrabberBufferCopyOffset", INTEGER, 0x0520, S, "RW"),
    ("Reg_OffsetX", "OffsetX", INTEGER, 0x0528, 4, "RW"),
    ("Reg_OffsetY", "OffsetY", INTEGER, 0x052C, 4, "RW"),
    ("Reg_Width", "Width", INTEGER, 0x0530, 4, "RW"),
    ("Reg_Height", "Height", INTEGER, 0x0534, 4, "RW"),
    ("Reg_WidthMax", "WidthMax", INTEGER, 0x0538, 4, "RO"),
    ("Reg_HeightMax", "HeightMax", INTEGER, 0x053C, 4, "RO"),
]

BUFFER = [
    ("Reg_BufferSize", "BufferSize", INTEGER, 0x0008, S, "RO"),
    ("Reg_BufferDataSize", NONE, NONE, 0x0008, S, "RO"),
    ("Reg_BufferUserData", "BufferUserData", INTEGER, 0x0010, S, "RO"),
    ("Reg_BufferTimeStamp", "BufferTimeStamp", INTEGER, 0x0018, 8, "RO"),
    ("Reg_BufferNewData", "BufferNewData", BOOL, 0x0020, 1, "RO"),
    ("Reg_BufferIsQueued", "BufferIsQueued", BOOL, 0x0024, 1, "RO"),
    ("Reg_BufferIsAcquiring", "BufferIsAcquiring", BOOL, 0x0028, 1, "RO"),
    ("Reg_BufferIsIncomplete", "BufferIsIncomplete", BOOL, 0x002C, 1, "RO"),
    ("Reg_BufferWidth", "BufferWidth", INTEGER, 0x0078, S, "RO"),
    ("Reg_BufferHeight", "BufferHeight", INTEGER, 0x0080, S, "RO"),
    ("Reg_BufferXOffset", "BufferXOffset", INTEGER, 0x0088, S, "RO"),
    ("Reg_BufferYOffset", "BufferYOffset", INTEGER, 0x0090, S, "RO"),
    ("Reg_BufferXPadding", "BufferXPadding", INTEGER, 0x0098, S, "RO"),
    ("Reg_BufferYPadding", "BufferYPadding", INTEGER, 0x00A0, S, "RO"),
    ("Reg_BufferFrameID", "BufferFrameID", INTEGER, 0x00A8, 8, "RO"),
    ("Reg_BufferImagePresent", "BufferImagePresent", BOOL, 0x00B0, 1, "RO"),
    ("Reg_BufferImageOffset", "BufferImageOffset", INTEGER, 0x00B4, S, "RO"),
    ("Reg_BufferPayloadType", "BufferPayloadType", ENUM, 0x00BC, S, "RO"),
    ("Reg_BufferPixelFormat", "BufferPixelFormat", ENUM, 0x00C4, 8, "RO"),
    ("Reg_BufferDeliveredImageHeight", "BufferDeliveredImageHeight", INTEGER, 0x00D4, S, "RO"),
    ("Reg_BufferSizeFilled", "BufferSizeFilled", INTEGER, 0x0070, S, "RO"),
    ("Reg_SizeofSizeT", NONE, NONE, 0x0500, 4, "RO"),
    ("BufferData", NONE, NONE, 0x20000000, "BufferSize", "RW"),
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


@pytest.mark.parametrize("file_name,port_name,table", MODULES, ids=[m[0] for m in MODULES])
def test_register_nodes_have_the_tabled_addresses_lengths_and_access(file_name, port_name, table):
    node_map, port = connected(file_name, port_name)
    port.put(0x0008, 0x1234, 8)  # the buffer's size, the length of BufferData

    registers = {n.node.name for n in node_map.nodes
                 if prop(n, "NodeType") in ("IntReg", "StringReg", "Register", "MaskedIntReg", "FloatReg")}
    assert registers == {row[0] for row in table}

    for register, feature, feature_type, address, length, access in table:
        node = node_map.get_node(register)
        assert int(prop(node, "Address")) == address, register
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


def test_system_selector_walks_the_interfaces():
    node_map, port = connected("TLSystem.xml", "TLPort")
    ids = ["PC1-VFG0", "PC1-VFG1", "PC2-VFG0"]
    port.computed[0x5018] = lambda n: ids[int.from_bytes(port.memory[0x5010:0x5014], "little")].encode().ljust(n, b"\0")

    assert not is_available(node_map.InterfaceSelector)  # no interface yet
    assert not is_available(node_map.InterfaceID)
    node_map.InterfaceUpdateList.execute()
    assert port.writes[-1] == (0x500C, (1).to_bytes(4, "little"))

    port.put(0x5014, 3)
    node_map.InterfaceUpdateList.execute()  # a new list: the count is read again
    assert node_map.InterfaceCount.value == 3
    assert is_available(node_map.InterfaceSelector)
    assert (node_map.InterfaceSelector.min, node_map.InterfaceSelector.max) == (0, 2)
    seen = []
    for index in range(3):
        node_map.InterfaceSelector.value = index
        seen.append(node_map.InterfaceID.value)
    assert seen == ids

    port.put(0x5000, 5)
    port.put_text(0x0100, "Vantrel, Inc.")
    assert node_map.TLType.value == "Mixed"
    assert node_map.TLVendorName.value == "Vantrel, Inc."


def test_interface_device_selection_camera_file_and_board_registers():
    node_map, port = connected("TLInterface.xml", "TLInterface")
    port.put(0x0500, 3)
    assert node_map.InterfaceType.value == "CoaXPress"

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

    # With registers, the value is there only while one is selected.
    node_map, port = connected("TLInterface.xml", "TLInterface")
    port.put(0x0A1C, 40)
    assert is_available(node_map.BoardRegisterIndex)
    assert (node_map.BoardRegisterIndex.min, node_map.BoardRegisterIndex.max) == (0, 39)
    assert not is_available(node_map.BoardRegisterValue)
    port.put(0x0B24, 1)  # the producer marks the selection valid when a name is written
    port.put(0x0A18, 7)
    port.put(0x0B20, 0xBEEF)
    node_map.BoardRegisterName.value = "dmaControl"
    assert port.memory[0x0A20:0x0A2B] == b"dmaControl\0"
    assert node_map.BoardRegisterIndex.value == 7
    assert is_available(node_map.BoardRegisterValue)
    assert node_map.BoardRegisterValue.value == 0xBEEF


def test_device_xml_cache_features_are_for_coaxpress_devices_only():
    node_map, port = connected("TLDevice.xml", "DevicePort")
    port.put(0x5000, 1)
    assert node_map.DeviceType.value == "CameraLink"
    for name in ("CacheExternalXmlFile", "DeleteSelectedXmlCacheEntry", "SyncCacheWithCamera"):
        assert not is_available(node_map.get_node(name)), name
    assert not is_available(node_map.XmlUrlSelector)  # no XML file listed

    node_map, port = connected("TLDevice.xml", "DevicePort")
    port.put(0x5000, 3)
    port.put(0x5008, 1)
    port.put_text(0x500C, "TLDataStream")
    port.put(0x531C, 2)
    assert node_map.StreamCount.value == 1
    assert node_map.StreamID.value == "TLDataStream"
    assert node_map.XmlFileCount.value == 2
    assert (node_map.XmlUrlSelector.min, node_map.XmlUrlSelector.max) == (0, 1)
    for name in ("CacheExternalXmlFile", "DeleteSelectedXmlCacheEntry", "SyncCacheWithCamera"):
        assert is_available(node_map.get_node(name)), name
    node_map.CacheExternalXmlFile.value = "/tmp/camera.zip"
    assert port.memory[0x510C:0x511C] == b"/tmp/camera.zip\0"
    node_map.SyncCacheWithCamera.execute()
    assert port.writes[-1] == (0x5320, (1).to_bytes(4, "little"))


def test_stream_limits_and_locks_follow_the_registers():
    node_map, port = connected("TLDatastream.xml", "StreamPort")
    port.put(0x0504, 1)
    port.put(0x0508, 10, 8)   # desired
    port.put(0x0518, 2, 8)    # minimum
    port.put(0x0538, 1024)    # WidthMax
    port.put(0x053C, 768)     # HeightMax
    port.put(0x0130, 1 << 33, 8)
    assert node_map.StreamType.value == "CameraLink"
    assert node_map.PayloadSize.value == 1 << 33  # eight-byte size values
    assert node_map.GrabberBufferCountDesired.min == 2
    assert (node_map.GrabberBufferCopyOffset.min, node_map.GrabberBufferCopyOffset.max) == (0, 9)
    assert (node_map.OffsetX.min, node_map.OffsetX.max) == (0, 1023)
    assert (node_map.OffsetY.min, node_map.OffsetY.max) == (0, 767)
    assert (node_map.Width.min, node_map.Width.max) == (1, 1024)
    assert (node_map.Height.min, node_map.Height.max) == (1, 768)
    assert node_map.StreamAcquisitionModeSelector.value == "Default"
    assert node_map.StreamBufferHandlingMode.value == "Default"

    node_map.Width.value = 640
    assert port.memory[0x0530:0x0534] == (640).to_bytes(4, "little")
    port.put(0x0138, 1, 1)  # grabbing: the region and the buffer count are locked
    for name in ("OffsetX", "OffsetY", "Width", "Height", "GrabberBufferCountDesired"):
        assert not is_writable(node_map.get_node(name)), name
    assert node_map.StreamIsGrabbing.value is True


def test_buffer_data_size_and_pixel_format():
    node_map, port = connected("TLBuffer.xml", "BufferPort")
    port.put(0x0008, 4096, 8)
    port.put(0x00C4, 0x82200020, 8)
    port.put(0x00BC, 1, 8)
    port.put(0x0024, 1, 1)
    assert node_map.BufferSize.value == 4096
    assert node_map.BufferData.length == 4096
    assert node_map.BufferPixelFormat.value == "RGB8a32"
    assert node_map.BufferPayloadType.value == "Image"
    assert node_map.BufferIsQueued.value is True
    assert node_map.BufferIsAcquiring.value is False
