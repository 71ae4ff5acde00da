#include "report.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace tavoctl {

namespace {

// A flat JSON object built in insertion order; values are numbers, booleans, strings or
// objects built the same way.
class Json {
public:
    Json& Num(std::string_view key, long long value) { return Raw(key, std::to_string(value)); }
    Json& Bool(std::string_view key, bool value) { return Raw(key, value ? "true" : "false"); }
    Json& Str(std::string_view key, std::string_view value) { return Raw(key, Quote(value)); }
    Json& StrOrNull(std::string_view key, const char* value) { return value ? Str(key, value) : Raw(key, "null"); }
    Json& Obj(std::string_view key, const Json& value) { return Raw(key, value.Text()); }
    std::string Text() const { return "{" + body_ + "}"; }

private:
    Json& Raw(std::string_view key, const std::string& value) {
        if (!body_.empty()) body_ += ',';
        body_ += Quote(key) + ':' + value;
        return *this;
    }
    static std::string Quote(std::string_view text) {
        std::string quoted = "\"";
        for (const char c : text) {
            if (c == '"' || c == '\\') {
                quoted += '\\';
                quoted += c;
            } else if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                quoted += escaped;
            } else {
                quoted += c;
            }
        }
        return quoted + '"';
    }
    std::string body_;
};

Json Head(Verb verb, bool ok) {
    Json json;
    json.Str("command", VerbName(verb)).Bool("ok", ok);
    return json;
}

Rendered JsonOut(const Json& json, int exitCode) { return {json.Text() + "\n", "", exitCode}; }

std::string Hex(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

const char* YesNo(bool value) { return value ? "yes" : "no"; }

std::string LevelText(std::int32_t level) {
    const char* word = PalmLevelWord(level);
    return std::to_string(level) + " (" + (word ? word : "unknown level") + ")";
}

std::string PalmLine(const PalmValues& v) {
    return "level " + LevelText(v.level) + ", up " + std::to_string(v.up) + ", down " + std::to_string(v.down) +
           ", left " + std::to_string(v.left) + ", right " + std::to_string(v.right);
}

Json PalmJson(const PalmValues& v) {
    Json json;
    json.Num("level", v.level).StrOrNull("level_name", PalmLevelWord(v.level));
    json.Num("up", v.up).Num("down", v.down).Num("left", v.left).Num("right", v.right);
    return json;
}

Json ForcepadJson(const ForcepadValues& values) {
    Json json;
    for (std::size_t i = 0; i < kForcepadFieldCount; ++i) json.Num(kForcepadFields[i].name, values[i]);
    return json;
}

std::string Padded(std::string_view text, std::size_t width) {
    std::string padded(text);
    if (padded.size() < width) padded.append(width - padded.size(), ' ');
    return padded;
}

std::string ForcepadLines(const ForcepadValues& values) {
    std::string text;
    for (std::size_t i = 0; i < kForcepadFieldCount; ++i) {
        text += "  " + Padded(kForcepadFields[i].name, 20) + Padded(std::to_string(values[i]), 12) + "(" +
                std::string(kForcepadFields[i].wireName) + ")\n";
    }
    return text;
}

// Why the read-back differs: the service gives no reason, but data 1 narrows it down.
std::string NotStoredReason(const Outcome& o) {
    std::string reason =
        "The service drops a change without a word when the settings application or its software component "
        "is not installed; ";
    if (!o.componentPresent || *o.componentPresent == 0) {
        reason += "on this machine the software component is not installed (data 1 = " +
                  std::to_string(o.componentPresent.value_or(0)) + ").";
    } else {
        reason += "on this machine the software component is installed (data 1 = " +
                  std::to_string(*o.componentPresent) + "), so the settings application is the one missing.";
    }
    return reason;
}

std::string FailureMessage(const CallFailure& f) {
    if (f.connecting) {
        return "The touchpad service is not running or not reachable (RPC error " + std::to_string(f.status) + ").";
    }
    return "The touchpad service did not complete " + f.call + " (RPC error " + std::to_string(f.status) + ").";
}

const char* DataMeaning(std::int32_t function) {
    switch (function) {
        case kDataComponentPresent: return "software component present";
        case kDataPhysicalWidth: return "physical width";
        case kDataPhysicalHeight: return "physical height";
        case kDataPalmRangeGroup: return "palm range group";
        case kDataDefaultPalmLevel: return "default palm level";
        case kDataCheckConstant: return "check constant";
        default: return nullptr;
    }
}

std::string Millimetres(std::int32_t hundredths) {
    const long long magnitude = std::llabs(static_cast<long long>(hundredths));
    char text[40];
    std::snprintf(text, sizeof text, "%s%lld.%02lld mm", hundredths < 0 ? "-" : "", magnitude / 100, magnitude % 100);
    return text;
}

std::string DataValueText(std::int32_t function, std::int32_t value) {
    switch (function) {
        case kDataComponentPresent: return std::to_string(value) + " (" + YesNo(value != 0) + ")";
        case kDataPhysicalWidth:
        case kDataPhysicalHeight: return std::to_string(value) + " (" + Millimetres(value) + ")";
        case kDataDefaultPalmLevel: return LevelText(value);
        case kDataCheckConstant: {
            std::string text = Hex(static_cast<std::uint32_t>(value), 8);
            if (value != kCheckConstant) text += " (expected " + Hex(kCheckConstant, 8) + ")";
            return text;
        }
        default: return std::to_string(value);
    }
}

Rendered RenderText(const Outcome& o) {
    switch (o.verb) {
        case Verb::Help: return RenderHelp(false);
        case Verb::Status: {
            std::string text = "Touchpad status: " + Hex(o.status, 2) + "\n";
            text += std::string("  BIOS enables the touchpad:       ") + YesNo(o.status & kStatusBiosEnabled) + "\n";
            text += std::string("  Precision Touchpad switch is on: ") + YesNo(o.status & kStatusUserSwitchOn) + "\n";
            text += std::string("  Enabled in Device Manager:       ") + YesNo(o.status & kStatusDeviceEnabled) + "\n";
            const std::uint8_t others = o.status & ~(kStatusBiosEnabled | kStatusUserSwitchOn | kStatusDeviceEnabled);
            if (others != 0) text += "  Other bits (no known meaning):   " + Hex(others, 2) + "\n";
            return {text, "", kExitOk};
        }
        case Verb::PalmGet:
            return {"Palm check level:  " + LevelText(o.palm.level) + "\nPalm check ranges: up " +
                        std::to_string(o.palm.up) + ", down " + std::to_string(o.palm.down) + ", left " +
                        std::to_string(o.palm.left) + ", right " + std::to_string(o.palm.right) + "\n",
                    "", kExitOk};
        case Verb::PalmSet:
            if (o.stored) return {"Palm settings stored: " + PalmLine(o.palm) + "\n", "", kExitOk};
            return {"The service did not store the palm settings.\n  Sent:      " + PalmLine(o.palmSent) +
                        "\n  Read back: " + PalmLine(o.palm) + "\n" + NotStoredReason(o) + "\n",
                    "", kExitNotStored};
        case Verb::ForcepadGet: return {"Forcepad settings:\n" + ForcepadLines(o.forcepad), "", kExitOk};
        case Verb::ForcepadSet: {
            if (o.stored) return {"Forcepad settings stored:\n" + ForcepadLines(o.forcepad), "", kExitOk};
            std::string text = "The service did not store the forcepad settings.\n";
            for (std::size_t i = 0; i < kForcepadFieldCount; ++i) {
                if (o.forcepad[i] == o.forcepadSent[i]) continue;
                text += "  " + Padded(kForcepadFields[i].name, 20) + "sent " + std::to_string(o.forcepadSent[i]) +
                        ", read back " + std::to_string(o.forcepad[i]) + "\n";
            }
            return {text + NotStoredReason(o) + "\n", "", kExitNotStored};
        }
        case Verb::Data: {
            const char* meaning = DataMeaning(o.dataFunction);
            return {"Touchpad data " + std::to_string(o.dataFunction) + " (" +
                        (meaning ? meaning : "not a function the service knows") +
                        "): " + DataValueText(o.dataFunction, o.dataValue) + "\n",
                    "", kExitOk};
        }
        case Verb::Support:
            return {std::string("Custom palm level allowed: ") + YesNo(o.support == 1) + " (" +
                        std::to_string(o.support) + ")\n",
                    "", kExitOk};
        case Verb::Meter:
            return {"Metering answered: StartMetering(first " + std::to_string(o.meter.first) + ", second " +
                        std::to_string(o.meter.second) + "), SetSamplePeriod(" + std::to_string(o.meter.period) +
                        "), StopMetering.\n",
                    "", kExitOk};
    }
    return {};
}

Rendered RenderJson(const Outcome& o) {
    switch (o.verb) {
        case Verb::Help: return RenderHelp(true);
        case Verb::Status:
            return JsonOut(Head(o.verb, true)
                               .Num("status", o.status)
                               .Bool("bios_enabled", o.status & kStatusBiosEnabled)
                               .Bool("user_switch_on", o.status & kStatusUserSwitchOn)
                               .Bool("device_enabled", o.status & kStatusDeviceEnabled),
                           kExitOk);
        case Verb::PalmGet: return JsonOut(Head(o.verb, true).Obj("palm", PalmJson(o.palm)), kExitOk);
        case Verb::ForcepadGet: return JsonOut(Head(o.verb, true).Obj("forcepad", ForcepadJson(o.forcepad)), kExitOk);
        case Verb::PalmSet:
        case Verb::ForcepadSet: {
            const bool palm = o.verb == Verb::PalmSet;
            Json json = Head(o.verb, o.stored);
            json.Bool("stored", o.stored);
            json.Obj("sent", palm ? PalmJson(o.palmSent) : ForcepadJson(o.forcepadSent));
            json.Obj("read_back", palm ? PalmJson(o.palm) : ForcepadJson(o.forcepad));
            if (!o.stored) {
                json.Bool("component_present", o.componentPresent.value_or(0) != 0);
                json.Str("reason", NotStoredReason(o));
            }
            return JsonOut(json, o.stored ? kExitOk : kExitNotStored);
        }
        case Verb::Data:
            return JsonOut(Head(o.verb, true)
                               .Num("function", o.dataFunction)
                               .StrOrNull("meaning", DataMeaning(o.dataFunction))
                               .Num("value", o.dataValue),
                           kExitOk);
        case Verb::Support:
            return JsonOut(Head(o.verb, true).Num("value", o.support).Bool("custom_palm_allowed", o.support == 1),
                           kExitOk);
        case Verb::Meter:
            return JsonOut(Head(o.verb, true)
                               .Num("first", o.meter.first)
                               .Num("second", o.meter.second)
                               .Num("period", o.meter.period),
                           kExitOk);
    }
    return {};
}

}  // namespace

Rendered Render(const Outcome& outcome, bool json) {
    if (outcome.failure) {
        const CallFailure& f = *outcome.failure;
        const std::string message = FailureMessage(f);
        if (!json) return {"", message + "\n", kExitServiceError};
        return JsonOut(Head(outcome.verb, false)
                           .Str("error", f.connecting ? "unreachable" : "call failed")
                           .Str("call", f.call)
                           .Num("rpc_status", f.status)
                           .Str("message", message),
                       kExitServiceError);
    }
    return json ? RenderJson(outcome) : RenderText(outcome);
}

Rendered RenderUsageError(const UsageError& error) {
    if (error.json) {
        Json json;
        json.Bool("ok", false).Str("error", "usage").Str("message", error.message);
        return JsonOut(json, kExitUsage);
    }
    return {"", "tavoctl: " + error.message + "\nRun 'tavoctl --help' for the commands.\n", kExitUsage};
}

Rendered RenderHelp(bool json) {
    std::string names;
    for (const ForcepadField& f : kForcepadFields) names += (names.empty() ? "" : ", ") + std::string(f.name);
    const std::string usage =
        "Usage: tavoctl COMMAND [--json]\n"
        "Asks the touchpad service what it holds, for support and for tests.\n"
        "\n"
        "Commands:\n"
        "  status                          the touchpad status byte and what its bits say\n"
        "  palm get                        the palm check level and ranges\n"
        "  palm set LEVEL UP DOWN LEFT RIGHT\n"
        "                                  LEVEL: 0 minimal, 1 low, 2 medium, 3 high,\n"
        "                                  4 custom, 5 dynamic (number or word)\n"
        "  forcepad get                    the nine forcepad settings\n"
        "  forcepad set NAME=VALUE ...     change some; the others keep what the service holds\n"
        "                                  NAME: " + names + "\n"
        "  data FUNCTION                   1 software component present, 2 width and\n"
        "                                  3 height (hundredths of mm), 4 palm range group,\n"
        "                                  5 default palm level, 99 check constant\n"
        "  support                         whether the custom palm level is allowed\n"
        "  meter [FIRST SECOND PERIOD]     StartMetering(FIRST, SECOND), SetSamplePeriod(PERIOD),\n"
        "                                  StopMetering; sends 0 0 1000 unless told\n"
        "Numbers are decimal or 0x hexadecimal.\n"
        "\n"
        "Options (anywhere):\n"
        "  --json   one JSON object on standard output, for scripts\n"
        "  --help   this text\n"
        "\n"
        "Exit codes: 0 done; 1 the service is not reachable or a call failed;\n"
        "2 bad arguments; 3 the service did not store a set.\n";
    if (!json) return {usage, "", kExitOk};
    return JsonOut(Head(Verb::Help, true).Str("usage", usage), kExitOk);
}

Rendered RenderTimeout(Verb verb, bool json, int seconds) {
    const std::string message = "The touchpad service did not answer within " + std::to_string(seconds) + " seconds.";
    if (!json) return {"", message + "\n", kExitServiceError};
    return JsonOut(Head(verb, false).Str("error", "timeout").Str("message", message), kExitServiceError);
}

}  // namespace tavoctl
