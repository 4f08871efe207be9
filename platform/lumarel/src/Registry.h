#pragma once

// Process-wide state of the library: the port table, the last error of each
// port and the log of calls that the test control reads.

#include "lumarel/lumarel.h"

#include <memory>
#include <string>
#include <vector>

class PlayPort;

namespace Registry {

bool validPort(int port);
// The port object, or null when the port is not open. Holding the pointer
// keeps the object alive while a call runs, even if another thread closes it.
std::shared_ptr<PlayPort> port(int port);
// Installs a new port object; false when the port is already open.
bool install(int port, const std::shared_ptr<PlayPort> &object);
// Takes the port object out of the table.
std::shared_ptr<PlayPort> remove(int port);

void setError(int port, int error);
int lastError(int port);

void logCall(const char *name, int port);
void logCall(const char *name);
std::vector<std::string> calls();
void clearCalls();

} // namespace Registry
