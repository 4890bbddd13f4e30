"""The simulated CoaXPress camera's XML as the reference GenApi reads it: fetched from every URL form the
camera's manifest can carry (local plain and zipped, file: with and without a schema suffix), loaded, its
register nodes held against the named addresses and lengths of sim/CxpCameraRegisters.h, and driven through
a port that reaches the simulated camera's memory, so that its features land on the registers the simulator
serves."""
import ctypes
import io
import json
import pathlib
import re
import struct
import zipfile

import pytest
from genicam.genapi import AbstractPort, EAccessMode, NodeMap

ROOT = pathlib.Path(__file__).resolve().parents[2]


def register_constants():
    """The named addresses of sim/CxpCameraRegisters.h, which the simulator and the XML share."""
    text = (ROOT / "sim" / "CxpCameraRegisters.h").read_text()
    values = {}
    pattern = r"inline constexpr uint32_t (\w+) = (feature_base \+ )?(0x[0-9A-Fa-f]+|\d+);"
    for name, base, number in re.findall(pattern, text):
        values[name] = int(number, 0) + (values["feature_base"] if base else 0)
    return values, re.findall(r'\{"(\w+)", (\w+), (\w+)\}', text)


REG, XML_REGISTERS = register_constants()


def configure(sim, config):
    assert sim.vnsim_configure(json.dumps(config).encode()) == 0, sim.vnsim_last_error().decode()


def read(sim, address, length):
    data = ctypes.create_string_buffer(length)
    assert sim.vnsim_cxp_read(0, address, data, length) == 0, hex(address)
    return data.raw


def register(sim, address):
    value = ctypes.c_uint32()
    assert sim.vnsim_cxp_read_register(0, address, ctypes.byref(value)) == 0, hex(address)
    return value.value


class CameraPort(AbstractPort):
    """The camera's memory as the board's CoaXPress access gives it (big-endian bytes)."""

    def __init__(self, sim):
        super().__init__()
        self.sim = sim

    def read(self, address, length):
        return read(self.sim, address, length)

    def write(self, address, value):
        data = bytes(value)
        result = self.sim.vnsim_cxp_write(0, address, data, len(data))
        if result != 0:
            raise IOError(f"camera refused the write at 0x{address:x}: {result}")

    def get_access_mode(self):
        return EAccessMode.RW


def manifest_urls(sim):
    """Every manifest entry's URL text and versions, read as a host reads them."""
    entries = []
    for index in range(register(sim, REG["xml_manifest_size"])):
        value = struct.pack(">I", index)
        assert sim.vnsim_cxp_write(0, REG["xml_manifest_selector"], value, 4) == 0
        address = register(sim, REG["xml_url_address"])
        url = read(sim, address, 1024).split(b"\0")[0].decode()
        entries.append((url, register(sim, REG["xml_version"]), register(sim, REG["xml_schema_version"])))
    return entries


def fetch(sim, url):
    """The XML text behind a manifest URL: camera memory for local:, the host's file for file:."""
    url = url.split("?")[0]
    scheme, rest = url.split(":", 1)
    if scheme.lower() == "local":
        name, address, length = rest.split(";")
        data = read(sim, int(address, 16), (int(length, 16) + 3) // 4 * 4)[:int(length, 16)]
    else:
        assert scheme.lower() == "file"
        name = rest
        data = pathlib.Path(rest[2:] if rest.startswith("///") else rest).read_bytes()  # "///a/b" is "/a/b"
    if name.lower().endswith(".zip"):
        with zipfile.ZipFile(io.BytesIO(data)) as archive:
            assert len(archive.namelist()) == 1
            data = archive.read(archive.namelist()[0])
    return data.decode("utf-8")


def test_every_url_form_yields_an_xml_the_reference_genapi_loads(sim, tmp_path):
    size = sim.vnsim_cxp_camera_xml(1, None, 0)
    archive = ctypes.create_string_buffer(size)
    sim.vnsim_cxp_camera_xml(1, archive, size)
    (tmp_path / "Copy.zip").write_bytes(archive.raw)
    size = sim.vnsim_cxp_camera_xml(0, None, 0)
    plain = ctypes.create_string_buffer(size)
    sim.vnsim_cxp_camera_xml(0, plain, size)
    (tmp_path / "Copy.xml").write_bytes(plain.raw)
    configure(sim, {"boards": [{"kind": "CXP", "camera": {"manifest": [
        {"local": "zip"},
        {"local": "xml", "schema_suffix": True},
        {"url": f"file://{tmp_path}/Copy.xml?SchemaVersion=1.1.0"},
        {"url": f"file://{tmp_path}/Copy.zip", "xml_version": "1.0.0"},
    ]}}]})
    entries = manifest_urls(sim)
    assert [url.split(":")[0] for url, _, _ in entries] == ["local", "local", "file", "file"]
    assert entries[1][0].endswith("?SchemaVersion=1.1.0")
    for url, version, schema in entries:
        xml = fetch(sim, url)
        node_map = NodeMap()
        node_map.load_xml_from_string(xml)
        info = node_map.device_info
        assert (info.model_name, info.vendor_name) == ("SimCamCXP", "Vantrel")
        file_version, schema_version = info.get_device_version(), info.get_schema_version()
        assert version == (file_version.Major << 16 | file_version.Minor << 8 | file_version.SubMinor), url
        assert schema >> 8 == (schema_version.Major << 8 | schema_version.Minor) == 0x0101, url


def test_features_reach_the_simulated_cameras_registers(sim):
    configure(sim, {"boards": [{"kind": "CXP", "camera_files": [
        {"name": "a.cam", "width": 1024, "height": 768, "bits_per_pixel": 8}]}]})
    url, _, _ = manifest_urls(sim)[0]
    xml = fetch(sim, url)
    node_map = NodeMap()
    node_map.load_xml_from_string(xml)
    node_map.connect(CameraPort(sim), "Device")

    # The XML holds exactly the named registers, each at its address with its length, on the camera's port.
    assert len(re.findall(r'<(?:Int|Float|String)Reg Name="', xml)) == len(XML_REGISTERS)
    for name, address, length in XML_REGISTERS:
        node = node_map.get_node(name).node
        assert int(node.get_property("Address")[0], 0) == REG[address], name
        assert int(node.get_property("Length")[0]) == (int(length) if length.isdigit() else REG[length]), name
        assert node.get_property("pPort")[0] == "Device", name
        kind, body = re.search(r'<(\w+) Name="' + name + r'"(.*?)</\1>', xml, re.S).groups()
        assert ("<Endianess>BigEndian</Endianess>" in body) == (kind != "StringReg"), name

    for feature, name in [("Width", "width"), ("Height", "height"), ("OffsetX", "offset_x"),
                          ("PixelFormat", "pixel_format"), ("AcquisitionMode", "acquisition_mode"),
                          ("TestPattern", "test_pattern"), ("TLParamsLocked", "tl_params_locked"),
                          ("PayloadSize", "payload_size"), ("ExposureTime", "exposure_time"),
                          ("CxpLinkConfiguration", "connection_config"),
                          ("AcquisitionFrameCount", "acquisition_frame_count"), ("TriggerSelector", "trigger_selector"),
                          ("TriggerMode", "trigger_mode"), ("TriggerSource", "trigger_source"),
                          ("TriggerSoftware", "trigger_software"), ("TriggerActivation", "trigger_activation")]:
        node = node_map.get_node(feature)
        value_node = node.node.get_property("pValue")[0] if feature != "PayloadSize" else "PayloadSizeReg"
        assert int(node_map.get_node(value_node).node.get_property("Address")[0]) == REG[name], feature

    assert node_map.DeviceVendorName.value == "Vantrel"
    assert node_map.DeviceTLType.value == "CoaXPress"
    assert node_map.Width.max == 1024
    node_map.Width.value = 640
    node_map.PixelFormat.value = "Mono12"
    assert register(sim, REG["width"]) == 640
    assert register(sim, REG["pixel_format"]) == 0x01100005
    assert node_map.PayloadSize.value == 640 * 768 * 2
    assert node_map.OffsetX.max == 1024 - 640
    assert node_map.CxpLinkConfiguration.value == "CXP6_X4"
    assert node_map.CxpLinkConfigurationPreferred.value == "CXP6_X4"

    node_map.AcquisitionFrameRate.value = 250.0
    assert struct.unpack(">f", read(sim, REG["acquisition_frame_rate"], 4))[0] == 250.0
    node_map.ExposureTime.value = 1234.5
    assert node_map.ExposureTime.value == pytest.approx(1234.5)

    node_map.AcquisitionStop.execute()
    assert register(sim, REG["acquisition_status"]) == 0
    node_map.AcquisitionStart.execute()
    assert register(sim, REG["acquisition_status"]) == 1

    node_map.TLParamsLocked.value = 1
    with pytest.raises(Exception):
        node_map.Width.value = 320
    assert register(sim, REG["width"]) == 640
    node_map.TLParamsLocked.value = 0
    node_map.Width.value = 320
    assert register(sim, REG["width"]) == 320
