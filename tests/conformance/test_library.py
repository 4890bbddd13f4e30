"""The producer as Harvesters sees it: its exported symbols, loading and the device list. (Initialising and
closing again and again: LibraryLifecycleTest; the error texts GCGetLastError hands out, and their echo to the
board driver's debug output: LastErrorTest.)"""
import ctypes

from harvesters.core import Harvester


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
