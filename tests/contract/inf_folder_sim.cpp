#include "contract/inf_folder.h"

#include "platform/platform.h"
#include "platform/sim/sim_setup_inf.h"

namespace contract {

void WriteInfFolderFile(const std::wstring& name, const std::string& text) {
    auto& inf = dynamic_cast<sim::SimSetupInf&>(*win::P().setupInf);
    inf.AddFile(name, std::wstring(text.begin(), text.end()));
}

}  // namespace contract
