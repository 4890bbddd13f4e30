"""Both simulated cameras as an application that triggers its camera sees them through Harvesters: the
FrameStart trigger from software and from the board's trigger input (pulsed through the simulator's
control interface and through the interface module's board-register features), and the SingleFrame and
MultiFrame acquisition modes. Every delivered frame is checked pixel by pixel against the simulator's
pattern for its frame counter."""

import pytest
from conftest import create
from genicam.genapi import EAccessMode

BOARDS = {"CXP": 0, "CL": 1}  # the built-in configuration's board index of each camera
WIDTH, HEIGHT = 64, 48
QUIET = 0.4  # seconds in which a camera that should send nothing is watched (its period is 1/30 s)


@pytest.fixture(params=sorted(BOARDS))
def camera(request, harvester):
    acquirer = create(harvester, request.param)
    acquirer.remote_device.node_map.Width.value = WIDTH
    acquirer.remote_device.node_map.Height.value = HEIGHT
    yield acquirer, BOARDS[request.param]
    if acquirer.is_acquiring():
        acquirer.stop()
    acquirer.destroy()


def take(acquirer, sim, count, last=0, stamps=None):
    """Fetches count frames, checks each against the pattern and returns the last frame counter; the frames'
    time stamps (ns) are added to stamps when it is given."""
    for _ in range(count):
        with acquirer.fetch(timeout=3) as fetched:
            if stamps is not None:
                stamps.append(fetched.timestamp_ns)
            image = fetched.payload.components[0]
            data = bytes(image.data)
            counter = sim.vnsim_frame_stamp(data, len(data))
            assert counter > last
            assert (image.width, image.height) == (WIDTH, HEIGHT)
            assert sim.vnsim_check_frame(data, len(data), WIDTH, HEIGHT, 8, counter) == 0, counter
            last = counter
    return last


def nothing_more(acquirer):
    buffer = acquirer.try_fetch(timeout=QUIET)
    if buffer is not None:
        buffer.queue()
    return buffer is None


def test_software_trigger_gives_one_frame_per_trigger_and_none_without(camera, sim):
    acquirer, _ = camera
    node_map = acquirer.remote_device.node_map
    node_map.TriggerSelector.value = "FrameStart"
    node_map.TriggerMode.value = "On"
    node_map.TriggerSource.value = "Software"
    assert node_map.TriggerActivation.node.get_access_mode() == EAccessMode.NA, "activation applies to a line only"
    acquirer.start()
    assert nothing_more(acquirer), "a frame came without a trigger"
    last = 0
    for _ in range(3):
        node_map.TriggerSoftware.execute()
        last = take(acquirer, sim, 1, last)
        assert nothing_more(acquirer), "one trigger gave more than one frame"
    # Back to free running: frames come on their own again.
    node_map.TriggerMode.value = "Off"
    take(acquirer, sim, 3, last)


def test_single_frame_gives_one_frame_and_stops_and_multi_frame_gives_the_count(camera, sim):
    acquirer, _ = camera
    node_map = acquirer.remote_device.node_map
    node_map.AcquisitionMode.value = "SingleFrame"
    acquirer.start()
    take(acquirer, sim, 1)
    assert nothing_more(acquirer), "SingleFrame gave a second frame"
    acquirer.stop()

    node_map.AcquisitionMode.value = "MultiFrame"
    node_map.AcquisitionFrameCount.value = 5
    acquirer.start()
    take(acquirer, sim, 5)
    assert nothing_more(acquirer), "more frames than AcquisitionFrameCount"
    acquirer.stop()
    # A second start gives the count again.
    acquirer.start()
    take(acquirer, sim, 5)
    assert nothing_more(acquirer)


def test_line_trigger_gives_one_frame_per_pulse_of_the_board_trigger_input(camera, sim):
    acquirer, board = camera
    node_map = acquirer.remote_device.node_map
    node_map.TriggerMode.value = "On"
    node_map.TriggerSource.value = "Line0"
    assert node_map.TriggerActivation.node.get_access_mode() == EAccessMode.RW
    node_map.TriggerActivation.value = "RisingEdge"
    acquirer.start()
    assert nothing_more(acquirer)
    last = 0
    for _ in range(3):
        assert sim.vnsim_pulse_trigger_input(board, 1) == 0
        last = take(acquirer, sim, 1, last)
        assert nothing_more(acquirer), "one pulse gave more than one frame"
    # Software triggers do not count while the line is the source.
    node_map.TriggerSoftware.execute()
    assert nothing_more(acquirer)

    # The board register of the trigger input, through the interface module's features: its level goes
    # up and down again, one pulse.
    interface = acquirer.interface.node_map
    interface.BoardRegisterName.value = "TRIG_IN"
    interface.BoardRegisterValue.value = 1
    last = take(acquirer, sim, 1, last)
    interface.BoardRegisterValue.value = 0
    assert nothing_more(acquirer), "the falling edge triggered too"
    node_map.TriggerActivation.value = "FallingEdge"
    interface.BoardRegisterValue.value = 1
    assert nothing_more(acquirer), "the rising edge triggered with FallingEdge"
    interface.BoardRegisterValue.value = 0
    last = take(acquirer, sim, 1, last)

    # Both edges of each pulse trigger with AnyEdge.
    node_map.TriggerActivation.value = "AnyEdge"
    assert sim.vnsim_pulse_trigger_input(board, 2) == 0
    last = take(acquirer, sim, 4, last)
    assert nothing_more(acquirer)


def test_exposure_time_bounds_the_frame_rate(camera, sim):
    acquirer, _ = camera
    node_map = acquirer.remote_device.node_map
    node_map.AcquisitionFrameRate.value = 200.0
    node_map.ExposureTime.value = 100000.0  # 100 ms: at most 10 frames a second
    acquirer.start()
    # Judged by the frames' own time stamps, not by when the test got them: frames that waited in their
    # buffers while a loaded machine held the test up still carry the times the camera sent them.
    stamps = []
    take(acquirer, sim, 5, stamps=stamps)
    assert all(later > earlier for earlier, later in zip(stamps, stamps[1:])), stamps
    assert stamps[-1] - stamps[0] >= 4 * 0.1 * 0.9 * 1e9, "frames came faster than their exposure allows"
