#pragma once
// The hidden port host: the array MSC of port objects indexed by port
// number. Element 0 always exists, preset to port 1 at 9600,N,8,1 and closed;
// other elements are created on demand as copies of element 0's settings.
#include "serial/PortControl.h"

#include <functional>
#include <map>

namespace quorvex {

// Makes a port object: with an empty path one whose device follows its port
// number, otherwise one on that device.
using PortFactory = std::function<PortRef(const QString &devicePath)>;

class PortHost {
public:
    explicit PortHost(PortFactory factory);
    ~PortHost();

    // Creates element n; false when it exists already or n is negative.
    bool create(int n);
    // Element n, or null when there is none.
    PortRef element(int n) const;
    // Every element by its index, in ascending order.
    const std::map<int, PortRef> &elements() const { return m_ports; }
    // The open port whose device is canonicalDevice (compared through
    // canonical), or null.
    PortRef openPortOn(const QString &canonicalDevice, const std::function<QString(const QString &)> &canonical) const;
    // Closes every port in ascending order and retires them all: records
    // that still refer to them fail from then on.
    void unload();

private:
    PortFactory m_factory;
    std::map<int, PortRef> m_ports;
};

} // namespace quorvex
