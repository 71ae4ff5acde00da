#include "single_instance.h"

namespace kvr {

bool ClaimSession(InstanceMutex& mutex) {
    if (mutex.Open()) return false;
    return mutex.Create() != InstanceMutex::Created::AlreadyExists;
}

}  // namespace kvr
