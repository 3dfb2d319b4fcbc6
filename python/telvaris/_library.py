"""Loading the telvaris library and binding every export with its C types."""
import ctypes
import ctypes.util
import os
import sys

# Every export: (result, (arguments...)) in the header's types. The tests
# check this table against telvaris.h.
PROTOTYPES = {
    "SetDebugMode": ("i32", ('i32', 'i32', 'str')),
    "SetDebugLevel": ("i32", ('i32', 'i32')),
    "InsertLogMessage": ("i32", ('str', 'str')),
    "ReportVersion": ("i32", ('i32*', 'i32*', 'i32*')),
    "SaveVersionInfo": ("i32", ('i32', 'i32', 'i32')),
    "tlAPISetSystemStatus": ("i32", ('i32',)),
    "tlAPIGetSystemStatus": ("i32", ()),
    "tlAPISetFeedbackStatus": ("i32", ('i32',)),
    "tlAPIGetFeedbackStatus": ("i32", ()),
    "tlAPISetFeedbackValues": ("i32", ('f64*', 'f64*', 'i32*')),
    "tlAPIGetAmplitudeValues": ("i32", ('f64*',)),
    "tlAPIGetThresholdValues": ("i32", ('f64*',)),
    "tlAPIGetModalityValues": ("i32", ('i32*',)),
    "tlAPISetLumiDropStatus": ("i32", ('i32',)),
    "tlAPIGetLumiDropStatus": ("i32", ()),
    "tlAPIWriteValues": ("i32", ('i32',)),
    "tlAPISetupCallback": ("i32", ('u32', 'callback')),
    "tlAPIStartRecording": ("i32", ()),
    "tlAPIStopRecording": ("i32", ()),
    "tlAPIPauseDataTransfer": ("i32", ()),
    "tlAPIResumeDataTransfer": ("i32", ()),
    "tlAPIStartPlayback": ("i32", ()),
    "tlAPIStopPlayback": ("i32", ()),
    "initialiseMQTTConnection": ("i32", ('str', 'i32', 'str', 'i32')),
    "subscribeToMQTTConnection": ("i32", ('str',)),
    "publishToMQTTConnection": ("i32", ('str', 'str')),
    "publishToMQTTConnectionWithLength": ("i32", ('str', 'ptr', 'i32')),
    "pollMQTTConnectionForResponse": ("i32", ('str',)),
    "tlMQTTRetrieveFeedbackInformation": ("i32", ()),
    "unsubscribeFromMQTTConnection": ("i32", ('str',)),
    "terminateMQTTConnection": ("i32", ()),
    "InitialiseCloudClient": ("i32", ('str', 'i32', 'i32', 'str')),
    "SendOSCPacket": ("i32", ('str', 'u32*')),
    "SendJSONPacket": ("i32", ('str', 'i32*', 'i32')),
    "TerminateCloudClient": ("i32", ()),
    "SetDataTransferMode": ("i32", ('i32', 'str', 'i32', 'str', 'str', 'str', 'str', 'str', 'str')),
    "SetComPorts": ("i32", ('i32', 'i32', 'i32', 'i32')),
    "OverrideCOMPortScan": ("i32", ('i32', 'i32')),
    "ListActiveCOMPorts": ("i32", ('i32*',)),
    "ActiveComPort": ("i32", ('i32',)),
    "SetScanWaitTime": ("i32", ('i32', 'i32')),
    "SetScanPortWaitTime": ("i32", ('i32',)),
    "ReadDelay": ("i32", ('i32',)),
    "SetDSUBaudRate": ("i32", ('i32', 'i32')),
    "SetDSUPacketLength": ("i32", ('i32', 'i32')),
    "SerialSendingMode": ("i32", ('i32',)),
    "GetSerialSendingMode": ("i32", ()),
    "EarlyV3Support": ("i32", ('i32',)),
    "SetSampleRateTo512Hz": ("i32", ()),
    "SendCommandToDSU": ("i32", ('str', 'i32')),
    "programDSU": ("i32", ('i32', 'i32', 'i32', 'i32')),
    "SetDSUProtocol": ("i32", ('i32', 'i32')),
    "InitialiseDSU": ("i32", ('i32',)),
    "TerminateDSU": ("i32", ('i32', 'i32', 'str')),
    "PauseRecording": ("i32", ('i32',)),
    "ResumeRecording": ("i32", ('i32',)),
    "GetSystemStatus": ("i32", ('i32',)),
    "BufferLength": ("i32", ('i32',)),
    "PacketsInBuffer": ("i32", ('i32',)),
    "TotalBytesRead": ("i32", ('i32',)),
    "BatteryStatus": ("i32", ()),
    "WineHack": ("i32", ('i32',)),
    "GetP3Data": ("i32", ('i32*', 'i32', 'i32*', 'i32*', 'i32*')),
    "StandaloneDecodeP3Packet": ("i32", ('i32*', 'u8*', 'i32', 'i32*', 'i32*')),
    "CurrentPacketNumber": ("i32", ('i32',)),
    "SetPacketNumber": ("i32", ('i32', 'i32')),
    "SetManualButton": ("i32", ('i32', 'i32')),
    "SetRecordingLength": ("i32", ('i32',)),
    "MonitorMode": ("i32", ('i32',)),
    "LoadSession": ("i32", ('str',)),
    "CleanUpLoadedSession": ("i32", ()),
    "ExportToCSV": ("i32", ('str', 'str')),
    "GetEpoch": ("i32", ('i32', 'i32', 'i32*', 'i32', 'i32', 'i32')),
    "PositioningErrors": ("i32", ('i32',)),
    "FilterGen": ("i32", ('i32', 'str', 'f64*', 'f64*')),
    "BpFilter": ("i32", ('f64*', 'f64*', 'f64*', 'f64*', 'f64', 'f32', 'i32')),
    "FirstOrderBandPass": ("i32", ('f64*', 'f64*', 'f64*', 'f64*', 'f64', 'f32', 'i32')),
    "BrainMapFilters": ("i32", ('f64*', 'f64*')),
    "initialiseNotchFilter": ("i32", ()),
    "processNotchFilter": ("i32", ('i32', 'i32', 'i32')),
    "returnNotchFilterValues": ("i32", ('i32*', 'i32')),
    "GenerateCoherenceValues": ("i32", ('i32', 'i32*', 'i32*', 'f64*', 'i32', 'i32', 'i32', 'i32')),
    "LinearRegression": ("i32", ('i32', 'f64*', 'f64*', 'f64*', 'f64*', 'f64*')),
    "correl": ("f64", ('f64*', 'f64*', 'i32')),
    "RRInterval": ("f32", ('f32', 'i32', 'i32', 'i32', 'f32', 'i32', 'i32', 'i32', 'i32')),
    "MidiVoice": ("i32", ('i32', 'i32', 'i32', 'i32')),
    "InitialiseMP3": ("i32", ('str',)),
    "openMP3": ("i32", ()),
    "playMP3": ("i32", ()),
    "muteMP3": ("i32", ()),
    "terminateMP3": ("i32", ()),
    "SetProcyonComPort": ("i32", ('i32',)),
    "SetProcyonDebugLevel": ("i32", ('i32',)),
    "initialiseAVESession": ("i32", ('i32', 'i32')),
    "relayToProcyon": ("i32", ('i32', 'i32', 'i32')),
    "stopProcyonSession": ("i32", ()),
    "terminateAVESession": ("i32", ()),
}

_CTYPES = {
    "i32": ctypes.c_int32, "u32": ctypes.c_uint32, "u16": ctypes.c_uint16, "u8": ctypes.c_uint8,
    "f64": ctypes.c_double, "f32": ctypes.c_float, "void": None, "str": ctypes.c_char_p, "ptr": ctypes.c_void_p,
}
if sys.platform == "win32":
    CALLBACK = ctypes.WINFUNCTYPE(None, ctypes.POINTER(ctypes.c_uint16))
else:
    CALLBACK = ctypes.CFUNCTYPE(None, ctypes.POINTER(ctypes.c_uint16))


def _ctype(name):
    if name == "callback":
        return CALLBACK
    if name.endswith("*"):
        return ctypes.POINTER(_CTYPES[name[:-1]])
    return _CTYPES[name]


def _candidates():
    chosen = os.environ.get("TELVARIS_LIBRARY")
    if chosen:
        return [chosen]
    if sys.platform == "win32":
        return ["telvaris.dll"]
    names = ["libtelvaris.so.5", "libtelvaris.so"]
    found = ctypes.util.find_library("telvaris")
    return names + ([found] if found else [])


def load():
    """The library, its exports typed. TELVARIS_LIBRARY names a file to load
    instead of the system's one."""
    loader = ctypes.WinDLL if sys.platform == "win32" else ctypes.CDLL
    errors = []
    for candidate in _candidates():
        try:
            library = loader(candidate)
            break
        except OSError as error:
            errors.append(str(error))
    else:
        raise OSError("cannot load the telvaris library: " + "; ".join(errors) +
                      " (install it, or name it in TELVARIS_LIBRARY)")
    for name, (result, arguments) in PROTOTYPES.items():
        function = getattr(library, name)
        function.restype = _ctype(result)
        function.argtypes = [_ctype(a) for a in arguments]
    return library
