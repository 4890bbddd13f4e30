"""The producer as the reference GenTL consumer (genicam) and Harvesters see it: loading, initialising,
closing and the device list. (The error texts GCGetLastError hands out, and their echo to the board driver's
debug output: LastErrorTest.)"""
import ctypes

from genicam import gentl
from harvesters.core import Harvester


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
