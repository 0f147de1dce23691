// Program start-up.
#pragma once

// Creates the application object and the one form, runs the message loop,
// guarded as one block (GuardedStartup). Reads no command-line argument:
// argv0 alone goes to the application object. Always returns 0.
int RunLumoDownloadTool(char* argv0);
