// The running program's own path on Windows (GetModuleFileNameW), for the
// front ends: the saved paths live beside the executable, and the framework's
// title is the executable's name.
#pragma once

#include <string>

// The full path; empty when Windows gives none, or one longer than any path it has.
std::wstring ProgramPath();
// Its folder, in UTF-8. A drive's root stays whole ("C:\", not "C:", which
// would be that drive's current folder).
std::string ProgramFolder();
