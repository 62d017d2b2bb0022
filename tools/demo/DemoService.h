#pragma once

// Installs and starts the service "kuvosvc" under the service control manager against a
// simulator of its own, shows a client's sample-rate change answered by the service
// process, an unplug and replug of all devices with the service reconnecting, then stops
// and uninstalls the service. 0 when every step worked.
int RunServiceDemo();
