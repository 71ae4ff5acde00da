// The edge of every thread the service is handed or hands work to: a pool work item, a
// dedicated thread, an RPC call. An exception that got past it would end the process
// through std::terminate; here it is logged with the operation it ended and what it said,
// and the thread goes on with its next piece of work (or ends, for a dedicated thread).
#pragma once

#include <exception>

#include "log/trace_log.h"

namespace tavo {

template <typename Body>
void AtThreadBoundary(const char* operation, Body&& body) noexcept {
    try {
        body();
    } catch (const std::exception& e) {
        TraceLog("%s:: ended by an exception: %s\n", operation, e.what());
    } catch (...) {
        TraceLog("%s:: ended by an exception of unknown type\n", operation);
    }
}

}  // namespace tavo
