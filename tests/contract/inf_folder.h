// Puts a file with the given text into the Windows INF folder of the platform under test.
#pragma once

#include <string>

namespace contract {

void WriteInfFolderFile(const std::wstring& name, const std::string& text);

}  // namespace contract
