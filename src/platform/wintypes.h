// Portable Windows types and constants for the core.
//
// The core never includes <windows.h>; it speaks Windows through these names so that
// log lines and error paths read exactly as they do on the real system. Values are the
// documented Windows ones. Handles are opaque 64-bit values wrapped in distinct enum
// types so that a registry key cannot be passed where a service handle is expected.
//
// A backend that also needs <windows.h> must include this header first: afterwards the
// Windows macros of the same names would rewrite these declarations.
#pragma once

#if defined(_WINDOWS_) || defined(_INC_WINDOWS)
#error "include platform headers before <windows.h>"
#endif

#include <cstddef>
#include <cstdint>

namespace win {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using ULONGLONG = std::uint64_t;
using LSTATUS = LONG;
using REGHANDLE = std::uint64_t;
using TRACEHANDLE = std::uint64_t;

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
    friend bool operator==(const GUID&, const GUID&) = default;
};

// Opaque handles. 0 is "none" for every kind; INVALID_HANDLE_VALUE only for file-like ones.
enum class HKEY : std::uint64_t {};
enum class SC_HANDLE : std::uint64_t {};
enum class SERVICE_STATUS_HANDLE : std::uint64_t {};
enum class HANDLE : std::uint64_t {};
enum class HDEVNOTIFY : std::uint64_t {};
enum class PTP_WORK : std::uint64_t {};

inline constexpr HANDLE INVALID_HANDLE_VALUE = static_cast<HANDLE>(~std::uint64_t{0});

// ---- error codes --------------------------------------------------------------------
inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD NO_ERROR = 0;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_NO_MORE_FILES = 18;
inline constexpr DWORD ERROR_OUTOFMEMORY = 14;
inline constexpr DWORD ERROR_GEN_FAILURE = 31;
inline constexpr DWORD ERROR_NOT_SUPPORTED = 50;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_BAD_LENGTH = 24;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr DWORD ERROR_ALREADY_EXISTS = 183;
inline constexpr DWORD ERROR_MORE_DATA = 234;
inline constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
inline constexpr DWORD ERROR_SERVICE_REQUEST_TIMEOUT = 1053;
inline constexpr DWORD ERROR_SERVICE_NO_THREAD = 1054;
inline constexpr DWORD ERROR_SERVICE_ALREADY_RUNNING = 1056;
inline constexpr DWORD ERROR_INVALID_SERVICE_CONTROL = 1052;
inline constexpr DWORD ERROR_SERVICE_DOES_NOT_EXIST = 1060;
inline constexpr DWORD ERROR_SERVICE_CANNOT_ACCEPT_CTRL = 1061;
inline constexpr DWORD ERROR_SERVICE_NOT_ACTIVE = 1062;
inline constexpr DWORD ERROR_FAILED_SERVICE_CONTROLLER_CONNECT = 1063;
inline constexpr DWORD ERROR_SERVICE_MARKED_FOR_DELETE = 1072;
inline constexpr DWORD ERROR_SERVICE_NOT_IN_EXE = 1083;
inline constexpr DWORD ERROR_SERVICE_EXISTS = 1073;
inline constexpr DWORD ERROR_UNKNOWN_REVISION = 1305;
inline constexpr DWORD ERROR_NO_SUCH_LOGON_SESSION = 1312;
inline constexpr DWORD ERROR_INVALID_SID = 1337;
inline constexpr DWORD ERROR_BADKEY = 1010;
inline constexpr DWORD ERROR_KEY_DELETED = 1018;
inline constexpr DWORD ERROR_WMI_INSTANCE_NOT_FOUND = 4201;

// ---- registry -----------------------------------------------------------------------
inline constexpr HKEY HKEY_CLASSES_ROOT = static_cast<HKEY>(0x80000000u);
inline constexpr HKEY HKEY_CURRENT_USER = static_cast<HKEY>(0x80000001u);
inline constexpr HKEY HKEY_LOCAL_MACHINE = static_cast<HKEY>(0x80000002u);
inline constexpr HKEY HKEY_USERS = static_cast<HKEY>(0x80000003u);

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;
inline constexpr DWORD REG_QWORD = 11;

inline constexpr DWORD KEY_QUERY_VALUE = 0x0001;
inline constexpr DWORD KEY_SET_VALUE = 0x0002;
inline constexpr DWORD KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr DWORD KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr DWORD KEY_NOTIFY = 0x0010;
inline constexpr DWORD KEY_WOW64_64KEY = 0x0100;
inline constexpr DWORD KEY_READ = 0x20019;
inline constexpr DWORD KEY_WRITE = 0x20006;
inline constexpr DWORD KEY_ALL_ACCESS = 0xF003F;

inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// ---- service control manager ----------------------------------------------------------
inline constexpr DWORD SC_MANAGER_CONNECT = 0x0001;
inline constexpr DWORD SC_MANAGER_CREATE_SERVICE = 0x0002;
inline constexpr DWORD SC_MANAGER_ALL_ACCESS = 0xF003F;

inline constexpr DWORD SERVICE_QUERY_CONFIG = 0x0001;
inline constexpr DWORD SERVICE_CHANGE_CONFIG = 0x0002;
inline constexpr DWORD SERVICE_QUERY_STATUS = 0x0004;
inline constexpr DWORD SERVICE_START = 0x0010;
inline constexpr DWORD SERVICE_STOP = 0x0020;
inline constexpr DWORD DELETE = 0x00010000;

inline constexpr DWORD SERVICE_WIN32_OWN_PROCESS = 0x10;
inline constexpr DWORD SERVICE_DEMAND_START = 3;
inline constexpr DWORD SERVICE_ERROR_NORMAL = 1;

inline constexpr DWORD SERVICE_STOPPED = 1;
inline constexpr DWORD SERVICE_START_PENDING = 2;
inline constexpr DWORD SERVICE_STOP_PENDING = 3;
inline constexpr DWORD SERVICE_RUNNING = 4;
inline constexpr DWORD SERVICE_CONTINUE_PENDING = 5;
inline constexpr DWORD SERVICE_PAUSE_PENDING = 6;
inline constexpr DWORD SERVICE_PAUSED = 7;

inline constexpr DWORD SERVICE_ACCEPT_STOP = 0x01;
inline constexpr DWORD SERVICE_ACCEPT_SHUTDOWN = 0x04;
inline constexpr DWORD SERVICE_ACCEPT_POWEREVENT = 0x40;
inline constexpr DWORD SERVICE_ACCEPT_SESSIONCHANGE = 0x80;

inline constexpr DWORD SERVICE_CONTROL_STOP = 1;
inline constexpr DWORD SERVICE_CONTROL_PAUSE = 2;
inline constexpr DWORD SERVICE_CONTROL_CONTINUE = 3;
inline constexpr DWORD SERVICE_CONTROL_INTERROGATE = 4;
inline constexpr DWORD SERVICE_CONTROL_SHUTDOWN = 5;
inline constexpr DWORD SERVICE_CONTROL_DEVICEEVENT = 11;
inline constexpr DWORD SERVICE_CONTROL_HARDWAREPROFILECHANGE = 12;
inline constexpr DWORD SERVICE_CONTROL_POWEREVENT = 13;
inline constexpr DWORD SERVICE_CONTROL_SESSIONCHANGE = 14;

inline constexpr DWORD SERVICE_CONFIG_DESCRIPTION = 1;
inline constexpr DWORD SERVICE_CONFIG_TRIGGER_INFO = 8;
inline constexpr DWORD SERVICE_TRIGGER_TYPE_DEVICE_INTERFACE_ARRIVAL = 1;
inline constexpr DWORD SERVICE_TRIGGER_ACTION_SERVICE_START = 1;

struct SERVICE_STATUS {
    DWORD dwServiceType;
    DWORD dwCurrentState;
    DWORD dwControlsAccepted;
    DWORD dwWin32ExitCode;
    DWORD dwServiceSpecificExitCode;
    DWORD dwCheckPoint;
    DWORD dwWaitHint;
    friend bool operator==(const SERVICE_STATUS&, const SERVICE_STATUS&) = default;
};

// ---- session change, power and device events -------------------------------------------
inline constexpr DWORD WTS_CONSOLE_CONNECT = 1;
inline constexpr DWORD WTS_CONSOLE_DISCONNECT = 2;
inline constexpr DWORD WTS_REMOTE_CONNECT = 3;
inline constexpr DWORD WTS_REMOTE_DISCONNECT = 4;
inline constexpr DWORD WTS_SESSION_LOGON = 5;
inline constexpr DWORD WTS_SESSION_LOGOFF = 6;
inline constexpr DWORD WTS_SESSION_LOCK = 7;
inline constexpr DWORD WTS_SESSION_UNLOCK = 8;
inline constexpr DWORD WTS_SESSION_REMOTE_CONTROL = 9;
inline constexpr DWORD WTS_SESSION_CREATE = 10;
inline constexpr DWORD WTS_SESSION_TERMINATE = 11;

// ---- terminal services sessions ---------------------------------------------------------
inline constexpr HANDLE WTS_CURRENT_SERVER_HANDLE = static_cast<HANDLE>(0);
// WTS_INFO_CLASS
inline constexpr DWORD WTSUserName = 5;
inline constexpr DWORD WTSConnectState = 8;
// WTS_CONNECTSTATE_CLASS
inline constexpr DWORD WTSActive = 0;
inline constexpr DWORD WTSConnected = 1;
inline constexpr DWORD WTSConnectQuery = 2;
inline constexpr DWORD WTSShadow = 3;
inline constexpr DWORD WTSDisconnected = 4;
inline constexpr DWORD WTSIdle = 5;
inline constexpr DWORD WTSListen = 6;
inline constexpr DWORD WTSReset = 7;
inline constexpr DWORD WTSDown = 8;
inline constexpr DWORD WTSInit = 9;

inline constexpr DWORD PBT_APMSUSPEND = 0x0004;
inline constexpr DWORD PBT_APMRESUMESUSPEND = 0x0007;
inline constexpr DWORD PBT_APMRESUMEAUTOMATIC = 0x0012;

inline constexpr DWORD DBT_DEVICEARRIVAL = 0x8000;
inline constexpr DWORD DBT_DEVICEREMOVECOMPLETE = 0x8004;
inline constexpr DWORD DBT_DEVTYP_DEVICEINTERFACE = 5;
inline constexpr DWORD DBT_DEVTYP_HANDLE = 6;
inline constexpr DWORD DEVICE_NOTIFY_SERVICE_HANDLE = 1;

// DEV_BROADCAST_* layouts on x86-64, as byte offsets: the header is three DWORDs; the
// handle variant aligns its HANDLE to 16; the interface variant follows the header with
// the class GUID and then the NUL-terminated wide name.
inline constexpr std::size_t DBCH_SIZE_OFFSET = 0;
inline constexpr std::size_t DBCH_DEVICETYPE_OFFSET = 4;
inline constexpr std::size_t DBCH_HEADER_SIZE = 12;
inline constexpr std::size_t DBCH_HANDLE_OFFSET = 16;
inline constexpr std::size_t DBCC_CLASSGUID_OFFSET = 12;
inline constexpr std::size_t DBCC_NAME_OFFSET = 28;

inline constexpr GUID GUID_CLASS_MOUSE = {0x378DE44C, 0x56EF, 0x11D1, {0xBC, 0x8C, 0x00, 0xA0, 0xC9, 0x14, 0x05, 0xDD}};
inline constexpr GUID GUID_DEVCLASS_MOUSE = {0x4D36E96F, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// ---- HID class and device installation ------------------------------------------------
using USHORT = std::uint16_t;
using NTSTATUS = LONG;
using CONFIGRET = DWORD;
using DEVINST = DWORD;

enum class HDEVINFO : std::uint64_t {};
enum class PHIDP_PREPARSED_DATA : std::uint64_t {};

inline constexpr DWORD ERROR_INVALID_FUNCTION = 1;
inline constexpr DWORD ERROR_INVALID_DATA = 13;
inline constexpr DWORD ERROR_DEVICE_NOT_CONNECTED = 1167;
inline constexpr DWORD ERROR_INVALID_USER_BUFFER = 1784;

inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD FILE_SHARE_READ = 0x00000001;
inline constexpr DWORD FILE_SHARE_WRITE = 0x00000002;
inline constexpr DWORD OPEN_EXISTING = 3;

inline constexpr DWORD DIGCF_DEFAULT = 0x01;
inline constexpr DWORD DIGCF_PRESENT = 0x02;
inline constexpr DWORD DIGCF_ALLCLASSES = 0x04;
inline constexpr DWORD DIGCF_PROFILE = 0x08;
inline constexpr DWORD DIGCF_DEVICEINTERFACE = 0x10;

inline constexpr DWORD SPDRP_DEVICEDESC = 0x00;
inline constexpr DWORD SPDRP_HARDWAREID = 0x01;
inline constexpr DWORD SPDRP_MFG = 0x0B;

inline constexpr CONFIGRET CR_SUCCESS = 0x00;
inline constexpr CONFIGRET CR_INVALID_DEVNODE = 0x05;
inline constexpr CONFIGRET CR_NO_SUCH_DEVNODE = 0x0D;

inline constexpr DWORD DN_DRIVER_LOADED = 0x00000002;
inline constexpr DWORD DN_STARTED = 0x00000008;
inline constexpr DWORD DN_DISABLEABLE = 0x00002000;
inline constexpr DWORD DN_HAS_PROBLEM = 0x00000400;
inline constexpr DWORD CM_PROB_FAILED_START = 10;
inline constexpr DWORD CM_PROB_DISABLED = 22;

inline constexpr NTSTATUS HIDP_STATUS_SUCCESS = 0x00110000;
inline constexpr NTSTATUS HIDP_STATUS_INVALID_PREPARSED_DATA = static_cast<NTSTATUS>(0xC0110001u);
inline constexpr NTSTATUS HIDP_STATUS_BUFFER_TOO_SMALL = static_cast<NTSTATUS>(0xC0110007u);
// HIDP_REPORT_TYPE
inline constexpr DWORD HidP_Input = 0;
inline constexpr DWORD HidP_Output = 1;
inline constexpr DWORD HidP_Feature = 2;

struct SP_DEVINFO_DATA {
    GUID ClassGuid;
    DEVINST DevInst;
    std::uint64_t Reserved;
};

struct SP_DEVICE_INTERFACE_DATA {
    GUID InterfaceClassGuid;
    DWORD Flags;
    std::uint64_t Reserved;
};

struct HIDD_ATTRIBUTES {
    ULONG Size;  // 12, as HidD_GetAttributes requires
    USHORT VendorID;
    USHORT ProductID;
    USHORT VersionNumber;
};

struct HIDP_CAPS {
    USHORT Usage;
    USHORT UsagePage;
    USHORT InputReportByteLength;
    USHORT OutputReportByteLength;
    USHORT FeatureReportByteLength;
    USHORT NumberLinkCollectionNodes;
    USHORT NumberInputButtonCaps;
    USHORT NumberInputValueCaps;
    USHORT NumberInputDataIndices;
    USHORT NumberOutputButtonCaps;
    USHORT NumberOutputValueCaps;
    USHORT NumberOutputDataIndices;
    USHORT NumberFeatureButtonCaps;
    USHORT NumberFeatureValueCaps;
    USHORT NumberFeatureDataIndices;
};

// The fields of HIDP_VALUE_CAPS that callers read; Usage is NotRange.Usage or Range.UsageMin.
struct HIDP_VALUE_CAPS {
    USHORT UsagePage;
    BYTE ReportID;
    USHORT LinkCollection;
    USHORT BitSize;
    USHORT ReportCount;
    LONG LogicalMin;
    LONG LogicalMax;
    LONG PhysicalMin;
    LONG PhysicalMax;
    USHORT Usage;
};

// Interface class of HID collections (HidD_GetHidGuid) and the setup classes of the device manager.
inline constexpr GUID GUID_DEVINTERFACE_HID = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
inline constexpr GUID GUID_DEVCLASS_HIDCLASS = {0x745A17A0, 0x74D3, 0x11D0, {0xB6, 0xFE, 0x00, 0xA0, 0xC9, 0x0F, 0x57, 0xDA}};

// ---- event tracing ----------------------------------------------------------------------
inline constexpr BYTE TRACE_LEVEL_ERROR = 2;
inline constexpr BYTE TRACE_LEVEL_INFORMATION = 4;
inline constexpr DWORD EVENT_CONTROL_CODE_DISABLE_PROVIDER = 0;
inline constexpr DWORD EVENT_CONTROL_CODE_ENABLE_PROVIDER = 1;
inline constexpr DWORD EVENT_TRACE_CONTROL_STOP = 1;
inline constexpr DWORD WNODE_FLAG_TRACED_GUID = 0x00020000;
inline constexpr DWORD EVENT_TRACE_NO_PER_PROCESSOR_BUFFERING = 0x10000000;
inline constexpr DWORD EVENT_TRACE_INDEPENDENT_SESSION_MODE = 0x08000000;
inline constexpr DWORD EVENT_TRACE_USE_PAGED_MEMORY = 0x01000000;
inline constexpr DWORD EVENT_TRACE_REAL_TIME_MODE = 0x00000100;
inline constexpr DWORD EVENT_TRACE_SECURE_MODE = 0x00000080;

// Field offsets of EVENT_TRACE_PROPERTIES (120 bytes on every Windows target).
namespace etp {
inline constexpr std::size_t kSize = 120;
inline constexpr std::size_t BufferSize = 0;      // Wnode.BufferSize
inline constexpr std::size_t Guid = 24;           // Wnode.Guid
inline constexpr std::size_t ClientContext = 40;  // Wnode.ClientContext
inline constexpr std::size_t Flags = 44;          // Wnode.Flags
inline constexpr std::size_t MaximumFileSize = 60;
inline constexpr std::size_t LogFileMode = 64;
inline constexpr std::size_t FlushTimer = 68;
inline constexpr std::size_t LogFileNameOffset = 112;
inline constexpr std::size_t LoggerNameOffset = 116;
}  // namespace etp

// ---- user tokens, shell folders and file paths ------------------------------------------
using HRESULT = LONG;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT HRESULT_FROM_WIN32(DWORD e) {
    return e == 0 ? S_OK : static_cast<HRESULT>((e & 0xFFFFu) | 0x80070000u);
}
inline constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }

inline constexpr DWORD MAX_PATH = 260;
inline constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr DWORD ERROR_NO_TOKEN = 1008;
inline constexpr DWORD ERROR_PRIVILEGE_NOT_HELD = 1314;

inline constexpr int CSIDL_LOCAL_APPDATA = 0x001C;
inline constexpr int CSIDL_FLAG_CREATE = 0x8000;
inline constexpr int CSIDL_FLAG_MASK = 0xFF00;
inline constexpr DWORD SHGFP_TYPE_CURRENT = 0;

// ---- user profiles (userenv) --------------------------------------------------------------
inline constexpr DWORD PI_NOUI = 1;
// PROFILEINFOW with the fields in userenv's order. hProfile is, as on Windows, a registry
// key on the root of the user's hive; it belongs to the profile load and is released by
// UnloadUserProfile, never by RegCloseKey.
struct PROFILEINFOW {
    DWORD dwSize;
    DWORD dwFlags;
    wchar_t* lpUserName;
    wchar_t* lpProfilePath;
    wchar_t* lpDefaultPath;
    wchar_t* lpServerName;
    wchar_t* lpPolicyPath;
    HKEY hProfile;
};
// sizeof(PROFILEINFOW) of x64 Windows: what dwSize must say.
inline constexpr DWORD kProfileInfoSize = 56;

}  // namespace win
