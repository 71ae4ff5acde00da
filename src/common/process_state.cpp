#include "common/process_state.h"

namespace tavo {
namespace {
// Groups are registered during static initialisation, before any thread starts.
ProcessWideGroup*& Groups() {
    static ProcessWideGroup* head = nullptr;
    return head;
}
}  // namespace

ProcessWideGroup::ProcessWideGroup() : next_(Groups()) { Groups() = this; }

void ResetProcessState() {
    for (ProcessWideGroup* g = Groups(); g != nullptr; g = g->next_) g->Rebuild();
}

}  // namespace tavo
