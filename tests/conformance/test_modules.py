"""The system, interface and device modules as the reference GenTL consumer sees them: each module's XML
description is fetched through its own port from the URL it announces, loaded into the reference GenApi,
and its features are read and written end to end through the module's port."""
import os
import pathlib
import re
import sys

import pytest
from genicam import gentl
from genicam.genapi import NodeMap, is_available

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "tools"))
from vngtl_features import ModulePort  # noqa: E402  (the tool's port adapter, the one a user runs)

RESOURCES = pathlib.Path(__file__).resolve().parents[2] / "resources"

CXP_ID = "VC4210417 (0) VN-CXP4 CoaXPress"
CL_ID = "VL2210418 (1) VN-CL2 Camera Link"


def node_map_of(port, port_name, resource):
    """The module's node map from its one URL: the description read through the port at the address it names,
    byte for byte what the library carries, connected to the port through the tool's adapter."""
    urls = list(port.url_info_list)
    assert len(urls) == 1
    match = re.fullmatch(r"local:([^;]+);([0-9a-f]+);([0-9a-f]+)", urls[0].url)
    assert match, urls[0].url
    assert match.group(1) == "Vantrel_VNGTL2_" + resource
    assert (urls[0].schema_ver_major, urls[0].schema_ver_minor) == (1, 1)
    assert (urls[0].file_ver_major, urls[0].file_ver_minor, urls[0].file_ver_subminor) == (1, 0, 0)
    xml = bytes(port.read(int(match.group(2), 16), int(match.group(3), 16))[1])
    assert xml == (RESOURCES / resource).read_bytes()
    node_map = NodeMap()
    node_map.load_xml_from_string(xml.decode("ascii"))
    connected = ModulePort(port)  # kept by the caller while the node map is used
    node_map.connect(connected, port_name)
    return node_map, connected


def fresh(node_map, feature):
    """A feature's value read again from the producer (the register's cached copy dropped first)."""
    node_map.get_node("Reg_" + feature).node.invalidate_node()
    return node_map.get_node(feature).value


@pytest.fixture
def system(cti):
    producer = gentl.GenTLProducer.create_producer()
    producer.open(cti)
    system = producer.create_system()
    system.open()
    yield system
    system.close()
    producer.close()


def open_interfaces(system):
    system.update_interface_info_list(1000)
    interfaces = {}
    for info in system.interface_info_list:
        iface = info.create_interface()
        iface.open()
        iface.update_device_info_list(1000)
        interfaces[info.id_] = iface
    return interfaces


def test_the_system_and_interface_modules(system):
    assert (system.id_, system.vendor, system.model, system.tl_type) == ("VNGTL", "Vantrel, Inc.", "VNGTL", "Mixed")
    assert system.version == "2.0.2ee.3436"  # the library file's version 2, 0, 750, 13366
    assert system.path_name.endswith("/VNGTL.cti") and os.path.isabs(system.path_name)
    assert system.name == "VNGTL.cti"
    port = system.port
    assert (port.id_, port.module, port.name) == ("VNGTL", "TLSystem", "TLPort")

    node_map, _ = node_map_of(port, "TLPort", "TLSystem.xml")
    values = [node_map.get_node(name).value for name in ("TLVendorName", "TLID", "TLModelName", "TLVersion", "TLPath",
                                                         "TLType", "GenTLVersionMajor", "GenTLVersionMinor")]
    assert values == ["Vantrel, Inc.", "VNGTL", "VNGTL", "2.0.2ee.3436", system.path_name, "Mixed", 1, 4]

    node_map.InterfaceUpdateList.execute()
    system.update_interface_info_list(1000)
    ids = [info.id_ for info in system.interface_info_list]
    assert ids == [CXP_ID, CL_ID]
    assert (node_map.InterfaceSelector.min, node_map.InterfaceSelector.max) == (0, 1)
    seen = []
    for index in range(node_map.InterfaceSelector.max + 1):
        node_map.InterfaceSelector.value = index
        seen.append(node_map.InterfaceID.value)
    assert seen == ids

    # The interface modules.
    interfaces = open_interfaces(system)
    assert list(interfaces) == [CXP_ID, CL_ID]
    expected = {
        CXP_ID: ("CXP", "CoaXPress", "SimCam_CXP_1024x768_Mono8.cam", "VN-CXP4 CoaXPress"),
        CL_ID: ("CL", "CameraLink", "SimCam_CL_640x480_Mono8.cam", "VN-CL2 Camera Link"),
    }
    for iface_id, iface in interfaces.items():
        tl_type, type_name, camera_file, model = expected[iface_id]
        assert (iface.id_, iface.display_name, iface.tl_type) == (iface_id, iface_id, tl_type)
        assert (iface.port.module, iface.port.name) == ("TLInterface", "TLInterface")
        node_map, _ = node_map_of(iface.port, "TLInterface", "TLInterface.xml")
        assert (node_map.InterfaceID.value, node_map.InterfaceType.value, node_map.CurrentCameraFile.value,
                node_map.CameraFileSettable.value) == (iface_id, type_name, camera_file, True)

        node_map.DeviceUpdateList.execute()
        assert [d.id_ for d in iface.device_info_list] == ["TLDevice"]
        info = iface.device_info_list[0]
        assert (info.vendor, info.model, info.tl_type) == ("Vantrel, Inc.", model, tl_type)
        device = info.create_device()
        device.open(gentl.DEVICE_ACCESS_FLAGS_LIST.DEVICE_ACCESS_CONTROL)
        try:
            assert (node_map.DeviceSelector.min, node_map.DeviceSelector.max) == (0, 0)
            node_map.DeviceSelector.value = 0
            assert (node_map.DeviceID.value, node_map.DeviceVendorName.value, node_map.DeviceModelName.value,
                    node_map.DeviceAccessStatus.value) == ("TLDevice", "Vantrel, Inc.", model, "ReadWrite")
        finally:
            device.close()


def test_the_board_register_window_and_the_camera_file_through_the_interface(system):
    iface = open_interfaces(system)[CXP_ID]
    node_map, _ = node_map_of(iface.port, "TLInterface", "TLInterface.xml")
    assert is_available(node_map.BoardRegisterIndex)
    count = node_map.BoardRegisterIndex.max + 1
    assert count >= 28  # the simulated board's named registers
    assert not is_available(node_map.BoardRegisterValue)  # nothing selected yet

    node_map.BoardRegisterName.value = "SCRATCH"  # names are matched whatever their case
    assert fresh(node_map, "BoardRegisterName") == "scratch"  # what the producer shows, not the cache
    assert is_available(node_map.BoardRegisterValue)
    node_map.BoardRegisterValue.value = 0x5A5A
    assert node_map.BoardRegisterValue.value == 0x5A5A
    scratch = node_map.BoardRegisterIndex.value

    node_map.BoardRegisterName.value = "fw_version"
    assert node_map.BoardRegisterValue.value == 0x00030207
    node_map.BoardRegisterIndex.value = scratch
    assert fresh(node_map, "BoardRegisterName") == "scratch"
    assert node_map.BoardRegisterValue.value == 0x5A5A
    names = []
    for index in (0, count - 1):
        node_map.BoardRegisterIndex.value = index
        names.append(fresh(node_map, "BoardRegisterName"))
    assert names == sorted(names)

    # The camera file is changed through the same interface; one that is missing leaves the previous one.
    node_map.CurrentCameraFile.value = "SimCam_CXP_2048x1536_Mono12.cam"
    assert fresh(node_map, "CurrentCameraFile") == "SimCam_CXP_2048x1536_Mono12.cam"
    with pytest.raises(Exception, match='Failed to set camera file "missing.cam" on VFG 0'):
        node_map.CurrentCameraFile.value = "missing.cam"
    assert fresh(node_map, "CurrentCameraFile") == "SimCam_CXP_2048x1536_Mono12.cam"
    node_map.CurrentCameraFile.value = "SimCam_CXP_1024x768_Mono8.cam"


def test_the_device_modules(system):
    interfaces = open_interfaces(system)
    expected = {CXP_ID: ("CXP", "CoaXPress", "VN-CXP4 CoaXPress"), CL_ID: ("CL", "CameraLink", "VN-CL2 Camera Link")}
    for iface_id, (tl_type, type_name, model) in expected.items():
        device = interfaces[iface_id].device_info_list[0].create_device()
        device.open(gentl.DEVICE_ACCESS_FLAGS_LIST.DEVICE_ACCESS_READONLY)
        try:
            assert (device.id_, device.vendor, device.model, device.tl_type, device.version) == (
                "TLDevice", "Vantrel, Inc.", model, tl_type, "6.0.0.1")
            assert device.timestamp_frequency == 1_000_000_000
            port = device.local_port
            assert (port.id_, port.module, port.name) == ("TLDevice", "TLDevice", "DevicePort")
            assert (port.vendor, port.model, port.tl_type) == ("Vantrel, Inc.", model, tl_type)
            node_map, _ = node_map_of(port, "DevicePort", "TLDevice.xml")
            assert (node_map.DeviceType.value, node_map.DeviceVendorName.value, node_map.DeviceModelName.value,
                    node_map.StreamCount.value) == (type_name, "Vantrel, Inc.", device.model, 1)
            node_map.StreamSelector.value = 0
            assert node_map.StreamID.value == "TLDataStream"
            # The camera's cached XML file: as the CoaXPress port lists it, or read over the Camera Link serial line.
            assert node_map.XmlFileCount.value == 1
            path = node_map.XmlUrlPath.value
            assert path.startswith("file:///")
            assert path.endswith("/VantrelSimCamCXP.xml" if tl_type == "CXP" else ".xml")
        finally:
            device.close()
        assert interfaces[iface_id].device_info_list[0].access_status == 1  # read/write again after close
