#pragma once
#include "simulator/SimProcess.h"

#include <string>

// Plugs two devices into the running simulator, runs a server loop, lists the devices,
// changes the sample rate through a client request and prints what a second client heard.
int RunDriverLibraryDemo(const std::wstring& name, SimProcess& simulator);
