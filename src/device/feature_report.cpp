#include "device/feature_report.h"

#include "platform/hid.h"
#include "log/trace_log.h"

namespace tavo {
namespace {

void Fill(win::BYTE (&report)[kFeatureReportLength], win::WORD function, win::WORD data) {
    report[0] = kFeatureReportId;
    report[1] = static_cast<win::BYTE>(function & 0xFF);
    report[2] = static_cast<win::BYTE>(function >> 8);
    report[3] = static_cast<win::BYTE>(data & 0xFF);
    report[4] = static_cast<win::BYTE>(data >> 8);
}

}  // namespace

bool SetFeatureFunction(win::HANDLE device, win::WORD function, win::WORD data) {
    win::BYTE report[kFeatureReportLength];
    Fill(report, function, data);
    const win::DWORD error = win::Hid().HidD_SetFeature(device, report, kFeatureReportLength);
    if (error == win::ERROR_SUCCESS) {
        TraceLog("SetFeatureFunction(0x%04X, 0x%04X) Success\r\n", function, data);
        return true;
    }
    TraceLog("SetFeatureFunction(0x%04X, 0x%04X) Fail (Err=%d)\r\n", function, data, static_cast<int>(error));
    return false;
}

win::WORD GetFeatureFunction(win::HANDLE device, win::WORD function) {
    win::BYTE report[kFeatureReportLength];
    Fill(report, fn::kReadRequest, function);
    if (win::Hid().HidD_SetFeature(device, report, kFeatureReportLength) != win::ERROR_SUCCESS) {
        TraceLog("GetFeatureFunction(0x%04X, 0x%04X) Set Fail\r\n", fn::kReadRequest, function);
        return kFeatureReadFailed;
    }
    // The buffer still starts with the report id, which selects the report to fetch.
    const win::DWORD error = win::Hid().HidD_GetFeature(device, report, kFeatureReportLength);
    if (error != win::ERROR_SUCCESS) {
        TraceLog("GetFeatureFunction(0x%04X, 0x%04X) Fail (Err=%d)\r\n", fn::kReadRequest, function,
                 static_cast<int>(error));
        return kFeatureReadFailed;
    }
    const win::WORD value = static_cast<win::WORD>(report[4] << 8 | report[3]);
    TraceLog("GetFeatureFunction(0x%04X, 0x%04X) Success (0x%04X)\r\n", fn::kReadRequest, function, value);
    return value;
}

}  // namespace tavo
