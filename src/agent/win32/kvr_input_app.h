// The agent's application object: one instance per session, raised priority, then the
// hidden dialog's modal loop for the life of the process.
#pragma once

#include <windows.h>

#include "single_instance.h"
#include "unique_handle.h"

class CKVRInputApp {
public:
    explicit CKVRInputApp(HINSTANCE instance) : instance_(instance) {}

    // Returns FALSE as an application object does when the program should end: always,
    // since the agent's life is its dialog's.
    BOOL InitInstance();

private:
    class SessionMutex : public kvr::InstanceMutex {
    public:
        bool Open() override;
        Created Create() override;

    private:
        kvr::UniqueHandle held_;  // held until the process ends
    };

    HINSTANCE instance_;
    SessionMutex singleInstance_;
};
