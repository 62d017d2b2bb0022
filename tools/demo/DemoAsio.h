#pragma once

// Registers the ASIO driver with regsvr32, streams through it with the ASIO test host
// (a rate change and a switch to DSD and back while streaming), prints the host's report
// and unregisters the driver. 0 when every step worked.
int RunAsioDemo();
