#pragma once

#include <QString>

#include <vector>

// Uses up this process's file descriptors with connections to a local socket: lowers the soft
// RLIMIT_NOFILE to the descriptors open now plus `headroom`, then connects (without waiting)
// until no descriptor is left, at most `maxConnections` times. Connections the listener's queue
// cannot take still hold their descriptor. The destructor closes them and restores the limit.
class DescriptorFlood {
public:
    DescriptorFlood(const QString& socketPath, int headroom = 24, int maxConnections = 256);
    ~DescriptorFlood();
    DescriptorFlood(const DescriptorFlood&) = delete;
    DescriptorFlood& operator=(const DescriptorFlood&) = delete;

    // Whether the process ran out of descriptors (socket() failed with EMFILE).
    bool exhausted() const { return m_exhausted; }
    int connections() const { return int(m_descriptors.size()); }
    void end();

    static int openDescriptors();

private:
    std::vector<int> m_descriptors;
    bool m_exhausted = false;
    bool m_limited = false;
    unsigned long long m_softLimit = 0;
};
