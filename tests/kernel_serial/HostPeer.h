// What a test in the guest asks of the harness on the host: it writes a request line on the
// guest's console, which the harness watches ("ORVIX-HOST unit paced", "ORVIX-HOST unplug"),
// and reports figures the same way ("ORVIX-FIGURE name value").
#pragma once

#include <string>

namespace hostpeer {

void Ask(const std::string& request);
void Figure(const std::string& name, const std::string& value);

} // namespace hostpeer
