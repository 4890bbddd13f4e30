"""Images end to end through real GenTL consumers: the reference consumer announces, queues, starts and
receives buffers from each simulated board, every frame is checked against the simulator's pattern, and the
data stream's own features (through its XML description and GenApi) change what the next frames look like.
Harvesters acquiring the way an application would, with every frame's pixels checked: test_camera_triggers."""
import ctypes

import pytest
from genicam import gentl
from genicam.gentl import ACQ_QUEUE_TYPE_LIST, ACQ_START_FLAGS_LIST, ACQ_STOP_FLAGS_LIST, EVENT_TYPE_LIST

from test_modules import CL_ID, CXP_ID, node_map_of, open_interfaces

BOARDS = {CXP_ID: (0, 1024, 768), CL_ID: (1, 640, 480)}
MONO8 = 0x01080001
FRAMES = 100
TIMEOUT_MS = 3000


@pytest.fixture
def devices(cti, sim):
    producer = gentl.GenTLProducer.create_producer()
    producer.open(cti)
    system = producer.create_system()
    system.open()
    interfaces = open_interfaces(system)
    opened = {}
    for iface_id, iface in interfaces.items():
        device = iface.device_info_list[0].create_device()
        device.open(gentl.DEVICE_ACCESS_FLAGS_LIST.DEVICE_ACCESS_CONTROL)
        opened[iface_id] = device
    yield opened
    for device in opened.values():
        device.close()
    for iface in interfaces.values():
        iface.close()
    system.close()
    producer.close()


class Stream:
    """One opened data stream with announced and queued buffers and its new-buffer event."""

    def __init__(self, device, count, size):
        assert list(device.data_stream_ids) == ["TLDataStream"]
        self.ds = device.create_data_stream()
        self.ds.open("TLDataStream")
        self.memory = [bytes(size) for _ in range(count)]
        self.buffers = [self.ds.announce_buffer(gentl.BufferToken(m, i)) for i, m in enumerate(self.memory)]
        for buffer in self.buffers:
            self.ds.queue_buffer(buffer)
        self.monitor = gentl.EventManagerNewBuffer(self.ds.register_event(EVENT_TYPE_LIST.EVENT_NEW_BUFFER))

    def start(self):
        self.ds.start_acquisition(ACQ_START_FLAGS_LIST.ACQ_START_FLAGS_DEFAULT, -1)

    def next(self):
        self.monitor.update_event_data(TIMEOUT_MS)
        return self.monitor.buffer

    def stop(self):
        self.ds.stop_acquisition(ACQ_STOP_FLAGS_LIST.ACQ_STOP_FLAGS_KILL)
        self.ds.flush_buffer_queue(ACQ_QUEUE_TYPE_LIST.ACQ_QUEUE_ALL_DISCARD)
        self.monitor.flush_event_queue()
        for buffer in self.buffers:
            self.ds.revoke_buffer(buffer)
        self.monitor.unregister_event()
        self.ds.close()


def check_frame(sim, buffer, width, height):
    """The buffer's info values and its bytes against the simulator's pattern; answers the frame counter."""
    assert (buffer.width, buffer.height) == (width, height)
    assert buffer.pixel_format == MONO8
    assert buffer.size_filled == width * height
    assert buffer.payload_type == 1
    assert buffer.contains_image
    data = bytes(buffer.raw_buffer)[: width * height]
    counter = sim.vnsim_frame_stamp(data, len(data))
    assert buffer.frame_id == counter
    assert sim.vnsim_check_frame(data, len(data), width, height, 8, counter) == 0
    return counter


@pytest.mark.parametrize("iface_id", [CXP_ID, CL_ID])
def test_hundred_frames_with_their_pattern_and_info(devices, sim, iface_id):
    board, width, height = BOARDS[iface_id]
    sim.vnsim_set_rate(board, 200.0)
    stream = Stream(devices[iface_id], 8, width * height)
    assert stream.ds.payload_size == width * height
    assert stream.ds.tl_type == ("CXP" if board == 0 else "CL")
    stream.start()
    assert stream.ds.is_grabbing
    counters, stamps = [], []
    for _ in range(FRAMES):
        buffer = stream.next()
        counters.append(check_frame(sim, buffer, width, height))
        stamps.append((buffer.timestamp, buffer.timestamp_ns))
        stream.ds.queue_buffer(buffer)
    # Frames are delivered oldest first; a frame is skipped only if the consumer fell a whole ring behind.
    assert counters == sorted(set(counters))
    assert all(later[0] > earlier[0] and later[1] > earlier[1] for earlier, later in zip(stamps, stamps[1:]))
    assert stamps[0][0] > 0 and stamps[0][1] > 0
    assert stream.ds.num_delivered == FRAMES
    stream.stop()


def test_width_height_and_buffer_count_through_the_stream_description(devices, sim):
    board, width, height = BOARDS[CXP_ID]
    sim.vnsim_set_rate(board, 200.0)
    device = devices[CXP_ID]
    stream = Stream(device, 4, width * height)
    node_map, _ = node_map_of(stream.ds.port, "StreamPort", "TLDatastream.xml")
    assert (node_map.WidthMax.value, node_map.HeightMax.value) == (width, height)
    assert node_map.GrabberBufferCountAllocated.value == 10
    node_map.GrabberBufferCountDesired.value = 6
    assert node_map.GrabberBufferCountAllocated.value == 6
    node_map.Width.value = 512
    node_map.Height.value = 256
    assert node_map.PayloadSize.value == 512 * 256

    stream.start()
    for _ in range(5):
        buffer = stream.next()
        check_frame(sim, buffer, 512, 256)
        stream.ds.queue_buffer(buffer)
    assert node_map.StreamDeliveredFrameCount.value == 5
    stream.stop()

