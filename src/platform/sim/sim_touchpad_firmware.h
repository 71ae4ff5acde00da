// A stand-in for the touchpad's firmware behind its vendor feature report 0x0D.
//
// The firmware keeps a table of 16-bit function values. A report with function 0x0305 is a
// read request naming the function to answer; the next fetch of report 0x0D answers
// 0D, function (2 bytes), value (2 bytes), all little-endian. Any other function code is a
// write of the data word. Functions outside the table, refused functions and fetches with
// no request outstanding stall, which Windows reports as ERROR_GEN_FAILURE. Every report is
// logged in both directions, refused ones included.
#pragma once

#include <array>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

#include "platform/wintypes.h"

namespace sim {

class TouchpadFirmware {
public:
    static constexpr win::BYTE kReportId = 0x0D;
    static constexpr win::WORD kReadRequest = 0x0305;

    enum class Direction { ToDevice, FromDevice };
    struct Report {
        Direction direction;
        std::vector<win::BYTE> bytes;
        bool accepted;
        friend bool operator==(const Report&, const Report&) = default;
    };

    TouchpadFirmware() = default;
    explicit TouchpadFirmware(std::map<win::WORD, win::WORD> functions) : values_(std::move(functions)) {}

    // ---- set-up and inspection ----
    void Set(win::WORD function, win::WORD value);
    std::optional<win::WORD> Value(win::WORD function) const;
    std::map<win::WORD, win::WORD> Values() const;
    // Requests to read or write this function stall.
    void Refuse(win::WORD function);
    // Every function is answered again.
    void AcceptAll();
    // A device that answers as it pleases: each fetch takes the next scripted answer, its
    // error or all five bytes as they are (report id and echoed function included), instead
    // of the table's value; a fetch needs no request outstanding then. Once the script is
    // used up the table answers again.
    struct Answer {
        win::DWORD error = 0;
        std::array<win::BYTE, 5> bytes{};
    };
    void Script(std::deque<Answer> answers);
    std::vector<Report> Reports() const;
    void ClearReports();
    // The device started again (plugged back in): the table is kept, a read request sent
    // before is not.
    void Restart();

    // ---- the HID side: the report as the host sends it, or the buffer to answer into ----
    win::DWORD SetFeature(const win::BYTE* report, win::ULONG length);
    win::DWORD GetFeature(win::BYTE* report, win::ULONG length);

private:
    mutable std::mutex lock_;
    std::map<win::WORD, win::WORD> values_;
    std::set<win::WORD> refused_;
    std::optional<win::WORD> pendingRead_;
    std::deque<Answer> script_;
    std::vector<Report> reports_;
};

}  // namespace sim
