"""The user guide's simulator configurations: each JSON example in docs/guide.md loads, gives the boards it
describes in its order, and streams from its first board."""
import json
import pathlib
import re

import pytest
from conftest import run_tool

GUIDE = pathlib.Path(__file__).resolve().parents[2] / "docs" / "guide.md"


def configurations():
    blocks = re.findall(r"```json\n(.*?)```", GUIDE.read_text(), re.S)
    return [block for block in blocks if '"boards"' in block]


def test_the_guide_has_an_example_for_each_board_kind():
    kinds = {board.get("kind", "other").lower() for text in configurations() for board in json.loads(text)["boards"]}
    assert kinds == {"cxp", "cl", "other"}


@pytest.mark.parametrize("text", configurations(), ids=lambda text: "-".join(
    b.get("serial", b.get("kind", "?")) for b in json.loads(text)["boards"]))
def test_example_loads_lists_its_boards_and_streams(sim, cti, harvester, text, tmp_path):
    assert sim.vnsim_configure(text.encode()) == 0, sim.vnsim_last_error().decode()
    boards = json.loads(text)["boards"]
    harvester.update()
    assert len(harvester.device_info_list) == len(boards)
    for index, board in enumerate(boards):
        if "serial" in board:
            assert harvester.device_info_list[index].parent.id_.startswith(f"{board['serial']} ({index})")

    # Streaming, as the guide does it: the file named by VNSIM_CONFIG, read by a fresh process.
    config = tmp_path / "sim.json"
    config.write_text(text)
    grab = run_tool(cti, "grab", "--count", "3", "--out", tmp_path / "last.png", VNSIM_CONFIG=str(config))
    assert grab.returncode == 0, grab.stdout + grab.stderr
    assert "vnsim:" not in grab.stderr  # the file loaded, no fallback to the default
    first = boards[0]["camera_files"][0]
    assert f"last image ({first['width']}x{first['height']}" in grab.stdout
    assert re.search(r"summary: 3 frames", grab.stdout)
