// One agent per session, told by a named mutex. Kept free of Windows so that the race of
// two agents starting together is tested natively.
#pragma once

namespace kvr {

// The session's instance mutex, as the agent asks for it.
class InstanceMutex {
public:
    enum class Created { New, AlreadyExists, Failed };

    virtual ~InstanceMutex() = default;
    // OpenMutexW: true when a mutex of that name exists.
    virtual bool Open() = 0;
    // CreateMutexW, not initially owned: a new mutex, or one that appeared since Open (the
    // handle then refers to the other agent's), or none at all.
    virtual Created Create() = 0;
};

// True when this agent is the session's one and goes on. Another agent's mutex ends it,
// whether Open finds it or Create meets it: two starts close together both find nothing
// with Open. A mutex that cannot be made at all does not stop the agent.
bool ClaimSession(InstanceMutex& mutex);

}  // namespace kvr
