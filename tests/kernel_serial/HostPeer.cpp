#include "tests/kernel_serial/HostPeer.h"

#include <iostream>

namespace hostpeer {

void Ask(const std::string& request)
{
    std::cout << "\nORVIX-HOST " << request << std::endl;
}

void Figure(const std::string& name, const std::string& value)
{
    std::cout << "\nORVIX-FIGURE " << name << " " << value << std::endl;
}

} // namespace hostpeer
