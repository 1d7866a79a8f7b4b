#pragma once
// Cuts received bytes into lines at EOT, as a serial port in line mode with a 4096-byte receive
// buffer does. A line that does not fit is dropped up to and including its EOT and reported by its
// size, so a device that never ends its line cannot make the buffer grow.
#include "bus/SerialLink.h"

#include <optional>

namespace kdr {

class LineBuffer {
public:
    static constexpr qsizetype kCapacity = 4096;

    struct Item {
        QByteArray line; // with its EOT; empty for a dropped line
        qint64 dropped = 0;
    };

    void append(const QByteArray &bytes) { m_rx += bytes; }
    void clear()
    {
        m_rx.clear();
        m_dropped = 0;
    }
    // The next complete line or dropped line. Each is taken out before the caller hands it on, so a
    // handler that runs a nested event loop sees the rest arrive in order.
    std::optional<Item> take()
    {
        const qsizetype end = m_rx.indexOf(kEOT);
        if (end < 0) {
            if (m_rx.size() >= kCapacity) {
                m_dropped += m_rx.size();
                m_rx.clear();
            }
            return std::nullopt;
        }
        Item it;
        it.line = m_rx.left(end + 1);
        m_rx.remove(0, end + 1);
        if (m_dropped > 0 || it.line.size() > kCapacity) {
            it.dropped = m_dropped + it.line.size();
            it.line.clear();
            m_dropped = 0;
        }
        return it;
    }

private:
    QByteArray m_rx;
    qint64 m_dropped = 0; // bytes of an overlong line dropped so far; its EOT has not come yet
};

} // namespace kdr
