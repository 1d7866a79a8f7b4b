// Reads the line settings a program put on the slave side of a pseudo-terminal. Kept apart from
// <termios.h>: the kernel's termios2 (needed for speeds such as 28800) clashes with it.
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace kdr::sim {

bool readPtyLineSettings(int slaveFd, int *baud, int *stopBits)
{
    struct termios2 t {};
    if (ioctl(slaveFd, TCGETS2, &t) != 0) return false;
    *baud = int(t.c_ospeed);
    *stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
    return true;
}

bool setPtyLineSettings(int fd, int baud, int stopBits)
{
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return false;
    t.c_cflag &= ~(CBAUD | CSTOPB);
    t.c_cflag |= BOTHER | (stopBits == 2 ? CSTOPB : 0);
    t.c_ispeed = t.c_ospeed = speed_t(baud);
    return ioctl(fd, TCSETS2, &t) == 0;
}

} // namespace kdr::sim
