#include "platform/sim/sim_etw.h"

#include <cstdio>
#include <cstring>

namespace sim {

std::string GuidText(const win::GUID& g) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

namespace {

win::ULONG ReadUlong(const win::BYTE* block, std::size_t offset) {
    win::ULONG v;
    std::memcpy(&v, block + offset, sizeof v);
    return v;
}

// Reads a NUL-terminated UTF-16 name stored in the block, bounded by the block's size.
std::wstring ReadName(const win::BYTE* block, win::ULONG size, win::ULONG offset) {
    std::wstring name;
    for (win::ULONG at = offset; at + 1 < size; at += 2) {
        std::uint16_t c;
        std::memcpy(&c, block + at, 2);
        if (c == 0) break;
        name += static_cast<wchar_t>(c);
    }
    return name;
}

}  // namespace

SimEtw::SimEtw(FaultPlan& faults, HandleTable& handles) : faults_(faults), handles_(handles) {}

win::ULONG SimEtw::EventRegister(const win::GUID& provider, win::REGHANDLE* out) {
    if (auto e = faults_.Check("EventRegister")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    std::uint64_t h = handles_.Open("REGHANDLE");
    providers_[h] = GuidText(provider);
    *out = h;
    return win::ERROR_SUCCESS;
}

win::ULONG SimEtw::EventUnregister(win::REGHANDLE handle) {
    if (auto e = faults_.Check("EventUnregister")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    if (providers_.erase(handle) == 0) return win::ERROR_INVALID_HANDLE;
    handles_.Close(handle, "REGHANDLE");
    return win::ERROR_SUCCESS;
}

win::ULONG SimEtw::EventWriteString(win::REGHANDLE handle, win::BYTE level, win::ULONGLONG, const wchar_t* text) {
    if (auto e = faults_.Check("EventWriteString")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    auto it = providers_.find(handle);
    if (it == providers_.end()) return win::ERROR_INVALID_HANDLE;
    TraceRecord record{level, text ? text : L""};
    written_.push_back(record);
    for (auto& [h, session] : sessions_) {
        auto enabled = session.enabledProviders.find(it->second);
        // An event passes a session enabled at its level or a more verbose one.
        if (enabled != session.enabledProviders.end() && (level == 0 || level <= enabled->second))
            files_[session.logFile].push_back(record);
    }
    return win::ERROR_SUCCESS;
}

win::ULONG SimEtw::StartTraceW(win::TRACEHANDLE* out, const wchar_t* sessionName, win::BYTE* properties) {
    if (auto e = faults_.Check("StartTraceW")) return e;
    if (out == nullptr || sessionName == nullptr || properties == nullptr) return win::ERROR_INVALID_PARAMETER;
    win::ULONG size = ReadUlong(properties, win::etp::BufferSize);
    if (size < win::etp::kSize) return win::ERROR_BAD_LENGTH;
    win::ULONG loggerOffset = ReadUlong(properties, win::etp::LoggerNameOffset);
    win::ULONG fileOffset = ReadUlong(properties, win::etp::LogFileNameOffset);
    if (loggerOffset != 0 && (loggerOffset < win::etp::kSize || loggerOffset >= size)) return win::ERROR_BAD_LENGTH;
    if (fileOffset != 0 && (fileOffset < win::etp::kSize || fileOffset >= size)) return win::ERROR_BAD_LENGTH;
    std::lock_guard<std::mutex> lock(lock_);
    std::wstring name = sessionName;
    for (const auto& [h, s] : sessions_)
        if (s.name == name) return win::ERROR_ALREADY_EXISTS;
    TraceSession session;
    session.name = name;
    session.logFile = fileOffset ? ReadName(properties, size, fileOffset) : L"";
    session.logFileMode = ReadUlong(properties, win::etp::LogFileMode);
    session.maximumFileSize = ReadUlong(properties, win::etp::MaximumFileSize);
    session.bufferSize = size;
    std::memcpy(&session.guid, properties + win::etp::Guid, sizeof session.guid);
    // Windows copies the session name into the block where LoggerNameOffset points.
    if (loggerOffset) {
        for (std::size_t i = 0; i <= name.size() && loggerOffset + 2 * i + 1 < size; ++i) {
            std::uint16_t c = i < name.size() ? static_cast<std::uint16_t>(name[i]) : 0;
            std::memcpy(properties + loggerOffset + 2 * i, &c, 2);
        }
    }
    std::uint64_t h = nextSession_++;
    sessions_[h] = session;
    files_[session.logFile];
    *out = h;
    return win::ERROR_SUCCESS;
}

win::ULONG SimEtw::EnableTraceEx2(win::TRACEHANDLE session, const win::GUID& provider, win::ULONG controlCode,
                                  win::BYTE level, win::ULONGLONG, win::ULONGLONG, win::ULONG) {
    if (auto e = faults_.Check("EnableTraceEx2")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    auto it = sessions_.find(session);
    if (it == sessions_.end()) return win::ERROR_INVALID_HANDLE;
    if (controlCode == win::EVENT_CONTROL_CODE_ENABLE_PROVIDER)
        it->second.enabledProviders[GuidText(provider)] = level;
    else if (controlCode == win::EVENT_CONTROL_CODE_DISABLE_PROVIDER)
        it->second.enabledProviders.erase(GuidText(provider));
    else
        return win::ERROR_INVALID_PARAMETER;
    return win::ERROR_SUCCESS;
}

win::ULONG SimEtw::ControlTraceW(win::TRACEHANDLE session, const wchar_t* sessionName, win::BYTE* properties,
                                 win::ULONG controlCode) {
    if (auto e = faults_.Check("ControlTraceW")) return e;
    if (properties == nullptr || ReadUlong(properties, win::etp::BufferSize) < win::etp::kSize)
        return win::ERROR_BAD_LENGTH;
    std::lock_guard<std::mutex> lock(lock_);
    auto it = sessions_.find(session);
    if (it == sessions_.end() && sessionName) {
        for (it = sessions_.begin(); it != sessions_.end() && it->second.name != sessionName; ++it) {
        }
    }
    if (it == sessions_.end()) return win::ERROR_WMI_INSTANCE_NOT_FOUND;
    if (controlCode != win::EVENT_TRACE_CONTROL_STOP) return win::ERROR_SUCCESS;
    sessions_.erase(it);
    return win::ERROR_SUCCESS;
}

std::vector<TraceRecord> SimEtw::Written() const {
    std::lock_guard<std::mutex> lock(lock_);
    return written_;
}

std::vector<TraceRecord> SimEtw::WrittenSince(std::size_t from) const {
    std::lock_guard<std::mutex> lock(lock_);
    if (from >= written_.size()) return {};
    return std::vector<TraceRecord>(written_.begin() + static_cast<std::ptrdiff_t>(from), written_.end());
}

std::size_t SimEtw::WrittenCount() const {
    std::lock_guard<std::mutex> lock(lock_);
    return written_.size();
}

std::vector<TraceRecord> SimEtw::LogFile(const std::wstring& path) const {
    std::lock_guard<std::mutex> lock(lock_);
    auto it = files_.find(path);
    return it == files_.end() ? std::vector<TraceRecord>{} : it->second;
}

std::optional<TraceSession> SimEtw::Session(const std::wstring& name) const {
    std::lock_guard<std::mutex> lock(lock_);
    for (const auto& [h, s] : sessions_)
        if (s.name == name) return s;
    return std::nullopt;
}

int SimEtw::RegisteredProviders() const {
    std::lock_guard<std::mutex> lock(lock_);
    return static_cast<int>(providers_.size());
}

}  // namespace sim
