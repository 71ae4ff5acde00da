#include "run_command.h"

namespace tavoctl {

namespace {

// Records the first failure; false stops the run.
bool Check(Outcome& out, const char* call, RpcStatus status) {
    if (status == 0) return true;
    out.failure = CallFailure{call, status, false};
    return false;
}

// The service drops a set without a word when the settings application or its software
// component is missing; data 1 tells which of the two it is. It answers the component test
// the service last made, which the support query makes afresh: ask that first.
void AskWhyNotStored(Outcome& out, TouchpadService& service) {
    std::int32_t present = 0;
    std::int32_t support = 0;
    if (Check(out, "ProcessGetSupportFunction", service.GetSupport(support)) &&
        Check(out, "ProcessGetTouchpadData", service.GetData(kDataComponentPresent, present))) {
        out.componentPresent = present;
    }
}

void RunOpened(const Command& cmd, TouchpadService& service, Outcome& out) {
    switch (cmd.verb) {
        case Verb::Help: return;
        case Verb::Status: Check(out, "ProcessGetTouchpadStatus", service.GetStatus(out.status)); return;
        case Verb::PalmGet: Check(out, "ProcessGetTouchpadSettings", service.GetPalm(out.palm)); return;
        case Verb::PalmSet:
            out.palmSent = cmd.palm;
            if (!Check(out, "ProcessSetTouchpadSettings", service.SetPalm(out.palmSent))) return;
            if (!Check(out, "ProcessGetTouchpadSettings", service.GetPalm(out.palm))) return;
            out.stored = out.palm == out.palmSent;
            if (!out.stored) AskWhyNotStored(out, service);
            return;
        case Verb::ForcepadGet:
            Check(out, "ProcessGetForcepadSettings", service.GetForcepad(out.forcepad));
            return;
        case Verb::ForcepadSet: {
            // Fields not named keep what the service holds now.
            if (!Check(out, "ProcessGetForcepadSettings", service.GetForcepad(out.forcepadSent))) return;
            for (const auto& [field, value] : cmd.forcepadChanges) out.forcepadSent[field] = value;
            if (!Check(out, "ProcessSetForcepadSettings", service.SetForcepad(out.forcepadSent))) return;
            if (!Check(out, "ProcessGetForcepadSettings", service.GetForcepad(out.forcepad))) return;
            out.stored = out.forcepad == out.forcepadSent;
            if (!out.stored) AskWhyNotStored(out, service);
            return;
        }
        case Verb::Data:
            out.dataFunction = cmd.dataFunction;
            Check(out, "ProcessGetTouchpadData", service.GetData(cmd.dataFunction, out.dataValue));
            return;
        case Verb::Support: Check(out, "ProcessGetSupportFunction", service.GetSupport(out.support)); return;
        case Verb::Meter:
            out.meter = cmd.meter;
            if (!Check(out, "StartMetering", service.StartMetering(cmd.meter.first, cmd.meter.second))) return;
            // Stop even when the period was refused, so the service is not left metering.
            const bool periodSet = Check(out, "SetSamplePeriod", service.SetSamplePeriod(cmd.meter.period));
            const RpcStatus stopped = service.StopMetering();
            if (periodSet) Check(out, "StopMetering", stopped);
            return;
    }
}

}  // namespace

Outcome RunCommand(const Command& cmd, TouchpadService& service) {
    Outcome out;
    out.verb = cmd.verb;
    if (cmd.verb == Verb::Help) return out;
    if (const RpcStatus status = service.Open(); status != 0) {
        out.failure = CallFailure{"OpenRpcEndpoint", status, true};
        return out;
    }
    RunOpened(cmd, service, out);
    service.Close();
    return out;
}

}  // namespace tavoctl
