"""The producer as the reference GenTL consumer (genicam) and Harvesters see it: loading, initialising,
closing and the error texts that reach the consumer."""
import ctypes

import pytest
from genicam import gentl
from harvesters.core import Harvester


def debug_output(vnsim) -> str:
    size = vnsim.vnsim_debug_output(None, 0)
    buf = ctypes.create_string_buffer(size + 1)
    vnsim.vnsim_debug_output(buf, size + 1)
    return buf.value.decode()


def test_reference_consumer_loads_and_releases_the_producer(cti):
    for _ in range(3):  # GCInitLib / GCCloseLib repeatedly, as consumers that rescan do
        producer = gentl.GenTLProducer.create_producer()
        producer.open(cti)
        assert producer.is_open()
        producer.close()
        assert not producer.is_open()


def test_every_gentl_function_is_exported(cti):
    lib = ctypes.CDLL(cti)
    names = """GCGetInfo GCGetLastError GCInitLib GCCloseLib GCReadPort GCWritePort GCGetPortURL GCGetPortInfo
    GCRegisterEvent GCUnregisterEvent GCGetNumPortURLs GCGetPortURLInfo GCReadPortStacked GCWritePortStacked
    EventGetData EventGetDataInfo EventGetInfo EventFlush EventKill TLOpen TLClose TLGetInfo TLGetNumInterfaces
    TLGetInterfaceID TLGetInterfaceInfo TLOpenInterface TLUpdateInterfaceList IFClose IFGetInfo IFGetNumDevices
    IFGetDeviceID IFUpdateDeviceList IFGetDeviceInfo IFOpenDevice IFGetParentTL DevGetPort DevGetNumDataStreams
    DevGetDataStreamID DevOpenDataStream DevGetInfo DevClose DevGetParentIF DSAnnounceBuffer
    DSAllocAndAnnounceBuffer DSFlushQueue DSStartAcquisition DSStopAcquisition DSGetInfo DSGetBufferID DSClose
    DSRevokeBuffer DSQueueBuffer DSGetBufferInfo DSGetBufferChunkData DSGetParentDev DSGetNumBufferParts
    DSGetBufferPartInfo DSAnnounceCompositeBuffer DSGetBufferInfoStacked DSGetBufferPartInfoStacked
    DSGetNumFlows DSGetFlowInfo DSGetNumBufferSegments DSGetBufferSegmentInfo""".split()
    assert len(names) == 64
    missing = [n for n in names if not hasattr(lib, n)]
    assert missing == []
    # Internal symbols stay hidden.
    assert not hasattr(lib, "_ZN5vngtl11get_managerEv")


def test_last_error_text_reaches_the_consumer(cti, vnsim):
    """A failing call's record is what GCGetLastError returns to the consumer, and it is echoed to the
    board driver's debug output."""
    lib = ctypes.CDLL(cti)
    assert lib.GCInitLib() == 0
    try:
        assert lib.GCInitLib() == -1004  # already initialised: refused without a record
        code = ctypes.c_int32(0)
        size = ctypes.c_size_t(0)
        assert lib.GCGetLastError(ctypes.byref(code), None, ctypes.byref(size)) == 0
        assert (code.value, size.value) == (0, 9)

        # A function this producer does not offer: the record names it.
        assert lib.DSGetNumFlows(None, None) == -1003
        assert lib.GCGetLastError(ctypes.byref(code), None, ctypes.byref(size)) == 0
        text = ctypes.create_string_buffer(size.value)
        assert lib.GCGetLastError(ctypes.byref(code), text, ctypes.byref(size)) == 0
        record = text.value.decode()
        assert code.value == -1003
        assert record.startswith("GC_ERR_NOT_IMPLEMENTED @ cti_ds.cpp[")
        assert "], DSGetNumFlows: " in record and record.endswith("\n")
        assert f"] = {record}\n" in debug_output(vnsim)
    finally:
        assert lib.GCCloseLib() == 0
    assert lib.GCCloseLib() == -1002


def test_harvesters_accepts_the_producer(cti):
    h = Harvester()
    try:
        h.add_file(cti, check_existence=True, check_validity=True)
        h.update()
        found = [(d.vendor, d.model, d.tl_type, d.id_, d.display_name) for d in h.device_info_list]
        assert found == [
            ("Vantrel, Inc.", "VN-CXP4 CoaXPress", "CXP", "TLDevice", "Vantrel SimCam CXP-1"),
            ("Vantrel, Inc.", "VN-CL2 Camera Link", "CL", "TLDevice", "Vantrel SimCam CL-1"),
        ]
        assert [d.access_status for d in h.device_info_list] == [0, 0]  # listed, never opened
    finally:
        h.reset()
