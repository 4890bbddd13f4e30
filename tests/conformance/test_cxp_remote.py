"""The CoaXPress camera through the producer's remote-device port: Harvesters builds the camera's node map
from the XML file the port's URL names, changes the camera's Width and Height through it and streams frames
that follow them; and the reference GenApi loads the camera's XML from every URL the port serves, whichever
manifest form (camera memory plain or zipped, a host file, a web server) the file came from."""
import ctypes
import json
import pathlib
import subprocess
import sys
import urllib.parse

import pytest
from genicam import gentl
from genicam.genapi import NodeMap

FRAMES = 100


def own_cache(monkeypatch, tmp_path, name):
    """A cache directory of the test's own, so that every manifest file is fetched afresh."""
    directory = tmp_path / name
    directory.mkdir()
    monkeypatch.setenv("GENICAM_CACHE_V2_4", str(directory))
    return directory


def camera_file(sim, zipped):
    size = sim.vnsim_cxp_camera_xml(1 if zipped else 0, None, 0)
    data = ctypes.create_string_buffer(size)
    sim.vnsim_cxp_camera_xml(1 if zipped else 0, data, size)
    return data.raw[:size]


def test_harvesters_streams_through_the_cameras_node_map(harvester, sim, monkeypatch, tmp_path):
    # Harvesters opens a file URL's path as it stands, without undoing its escapes: a plain name.
    own_cache(monkeypatch, tmp_path, "xml-cache")
    sim.vnsim_set_rate(0, 500.0)
    harvester.update()
    assert [info.property_dict["tl_type"] for info in harvester.device_info_list] == ["CXP", "CL"]
    acquirer = harvester.create(0)
    try:
        camera = acquirer.remote_device.node_map
        assert camera.DeviceVendorName.value == "Vantrel"
        assert camera.DeviceTLType.value == "CoaXPress"
        assert (camera.Width.value, camera.Height.value) == (1024, 768)
        camera.Width.value = 640
        camera.Height.value = 480
        assert camera.PixelFormat.value == "Mono8"
        assert acquirer.remote_device.node_map.PayloadSize.value == 640 * 480
        acquirer.start()
        last = None
        for _ in range(FRAMES):
            with acquirer.fetch(timeout=3) as fetched:
                component = fetched.payload.components[0]
                assert (component.width, component.height) == (640, 480)
                data = bytes(component.data)
                assert len(data) == 640 * 480
                counter = sim.vnsim_frame_stamp(data, len(data))
                assert sim.vnsim_check_frame(data, len(data), 640, 480, 8, counter) == 0
                assert last is None or counter > last
                last = counter
        acquirer.stop()
        # Stopped, the camera takes a new size again and the next start follows it.
        camera.Width.value = 320
        acquirer.start()
        with acquirer.fetch(timeout=3) as fetched:
            assert (fetched.payload.components[0].width, fetched.payload.components[0].height) == (320, 480)
        acquirer.stop()
    finally:
        acquirer.destroy()


# The web server runs in a process of its own: the reference consumer's calls keep Python's interpreter lock
# while the producer downloads, so a server thread in this process could not answer.
SERVER = r"""
import http.server, pathlib, sys, time
root = pathlib.Path(sys.argv[1])
class Files(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        path = root / self.path.lstrip("/")
        if not path.is_file():
            self.send_error(404)
            return
        body = path.read_bytes()
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(("127.0.0.1", 0), Files)
server.timeout = 0.2
print(server.server_address[1], flush=True)
deadline = time.monotonic() + 20
while time.monotonic() < deadline:
    server.handle_request()
"""


@pytest.fixture
def web_server(sim, tmp_path):
    """A server on 127.0.0.1 only, in its own process, which ends by itself after 20 s at the latest."""
    root = tmp_path / "web"
    (root / "cameras").mkdir(parents=True)
    (root / "cameras" / "WebCam.zip").write_bytes(camera_file(sim, zipped=True))
    server = subprocess.Popen([sys.executable, "-c", SERVER, str(root)], stdout=subprocess.PIPE, text=True)
    try:
        port = int(server.stdout.readline())
        yield f"127.0.0.1:{port}"
    finally:
        server.kill()
        server.wait(timeout=10)


def test_the_reference_genapi_parses_the_camera_xml_from_every_url_we_serve(cti, sim, web_server, tmp_path,
                                                                            monkeypatch):
    cache = own_cache(monkeypatch, tmp_path, "xml cache")
    host_file = tmp_path / "HostCam.xml"
    host_file.write_bytes(camera_file(sim, zipped=False))
    config = {"boards": [{
        "kind": "CXP", "model": "VN-CXP4 CoaXPress", "serial": "VC4210417",
        "camera_files": [{"name": "SimCam_CXP_1024x768_Mono8.cam", "width": 1024, "height": 768,
                          "bits_per_pixel": 8, "make": "Vantrel", "model": "SimCam CXP-1", "mode": "Mono8"}],
        "camera": {"manifest": [
            {"local": "zip"},
            {"local": "xml", "name": "SimCam Plain.xml", "schema_suffix": True},
            {"url": f"file://{host_file}?SchemaVersion=1.1.0"},
            {"url": f"http://{web_server}/cameras/WebCam.zip"},
        ]},
    }]}
    assert sim.vnsim_configure(json.dumps(config).encode()) == 0, sim.vnsim_last_error().decode()

    producer = gentl.GenTLProducer.create_producer()
    producer.open(cti)
    system = producer.create_system()
    system.open()
    system.update_interface_info_list(1000)
    iface = system.interface_info_list[0].create_interface()
    iface.open()
    iface.update_device_info_list(1000)
    device = iface.device_info_list[0].create_device()
    device.open(gentl.DEVICE_ACCESS_FLAGS_LIST.DEVICE_ACCESS_CONTROL)
    try:
        urls = [info.url for info in device.remote_port.url_info_list]
        names = sorted(pathlib.Path(urllib.parse.unquote(urllib.parse.urlparse(u).path)).name for u in urls)
        assert names == ["HostCam.xml", "SimCam Plain.xml", "VantrelSimCamCXP.xml", "WebCam.xml"]
        for url in urls:
            assert url.startswith("file:///") and " " not in url
            path = urllib.parse.unquote(urllib.parse.urlparse(url).path)
            assert pathlib.Path(path).parent == cache
            node_map = NodeMap()
            node_map.load_xml_from_file(path)
            assert node_map.get_node("Width") is not None, url
            assert node_map.get_node("DeviceTLType") is not None, url
    finally:
        device.close()
        iface.close()
        system.close()
        producer.close()
