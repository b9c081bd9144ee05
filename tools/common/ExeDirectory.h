// The folder of the running program, where each test tool looks for the
// programs and files built beside it. Windows only.
#pragma once

#include <string>

namespace proc {

// The folder of this process's executable, without a trailing separator;
// "." when the system does not say.
std::wstring ExeDirectory();

}  // namespace proc
