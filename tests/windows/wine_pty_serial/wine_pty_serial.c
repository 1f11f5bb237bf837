// SPDX-License-Identifier: Apache-2.0
// wine_pty_serial: a test-only LD_PRELOAD library that lets Wine's serial layer use a
// pseudo-terminal as a COM port.
//
// Wine maps COMn to a Unix terminal (dosdevices/comN -> /dev/pts/N) and runs the serial
// requests of a Windows program as ioctls on it, in the program's own process (the Unix side
// of ntdll). A UART answers all of them; a pseudo-terminal refuses the modem-control and
// line-counter ones with ENOTTY or EINVAL, and Wine then fails WaitCommEvent and
// GetCommModemStatus, so QSerialPort never hears of received bytes. For a pseudo-terminal
// slave, and only when the terminal itself refuses, this library answers:
//
//   TIOCMGET               the modem lines of a cable that is plugged in: DSR, CTS and CD up,
//                          plus DTR and RTS as the program last set them
//   TIOCMSET/TIOCMBIS/BIC  accepted, remembered for TIOCMGET (a pty has no lines to drive)
//   TIOCGICOUNT            the counters of the interrupts a UART would have seen: rx grows by
//                          the bytes that arrived in the input queue since the last look
//                          (FIONREAD), tx by those that left the output queue (TIOCOUTQ)
//   TIOCSERGETLSR          "transmitter empty" when the output queue is empty
//
// And once the other end has closed the terminal (the simulator pulled the cable), the queue
// and line requests fail with EIO, as they do on a USB adapter that has been unplugged, so
// that Wine's ClearCommError reports the loss instead of an idle line.
//
// Everything else, and every other descriptor, goes to the C library untouched. The library
// never prints; with WINE_PTY_SERIAL_LOG=path it appends one line per answered request.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

// Linux numbers its pseudo-terminal slaves with the Unix98 majors 136 to 143.
enum { kPtySlaveFirstMajor = 136, kPtySlaveLastMajor = 143, kMaxTracked = 4096 };

struct line_state {
    int known;
    int modem;           // TIOCM_DTR | TIOCM_RTS as set by the program
    int last_in_queue;   // FIONREAD at the previous look
    int last_out_queue;  // TIOCOUTQ at the previous look
    struct serial_icounter_struct counters;
};

static struct line_state lines[kMaxTracked];
static pthread_mutex_t lines_lock = PTHREAD_MUTEX_INITIALIZER;
typedef int (*ioctl_fn)(int, unsigned long, ...);

static ioctl_fn real_ioctl(void) {
    static ioctl_fn real;
    if (!real) {
        real = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
    }
    return real;
}

static int is_pty_slave(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
        return 0;
    }
    const unsigned int m = major(st.st_rdev);
    return m >= kPtySlaveFirstMajor && m <= kPtySlaveLastMajor;
}

static void note(int fd, const char* what, long value) {
    const char* path = getenv("WINE_PTY_SERIAL_LOG");
    if (!path || !*path) {
        return;
    }
    const int log = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (log < 0) {
        return;
    }
    char text[128];
    const int n = snprintf(text, sizeof text, "fd %d %s %ld\n", fd, what, value);
    if (n > 0) {
        ssize_t ignored = write(log, text, (size_t)n);
        (void)ignored;
    }
    close(log);
}

static struct line_state* line_of(int fd) {
    struct line_state* line = &lines[fd];
    if (!line->known) {
        memset(line, 0, sizeof *line);
        line->known = 1;
        line->modem = TIOCM_DTR | TIOCM_RTS;
    }
    return line;
}

// Brings the counters up to date from the terminal's queues. Called with lines_lock held.
static void count_traffic(int fd, struct line_state* line) {
    int in_queue = 0;
    int out_queue = 0;
    if (real_ioctl()(fd, FIONREAD, &in_queue) == 0) {
        if (in_queue > line->last_in_queue) {
            line->counters.rx += in_queue - line->last_in_queue;
        }
        line->last_in_queue = in_queue;
    }
    if (real_ioctl()(fd, TIOCOUTQ, &out_queue) == 0) {
        if (out_queue < line->last_out_queue) {
            line->counters.tx += line->last_out_queue - out_queue;
        }
        line->last_out_queue = out_queue;
    }
}

// Answers a request the pseudo-terminal refused; returns 1 when it did.
static int answer(int fd, unsigned long request, void* arg) {
    if (fd < 0 || fd >= kMaxTracked || !is_pty_slave(fd)) {
        return 0;
    }
    int answered = 1;
    pthread_mutex_lock(&lines_lock);
    struct line_state* line = line_of(fd);
    switch (request) {
        case TIOCMGET:
            *(int*)arg = line->modem | TIOCM_DSR | TIOCM_CTS | TIOCM_CAR;
            break;
        case TIOCMSET:
            line->modem = *(const int*)arg & (TIOCM_DTR | TIOCM_RTS);
            break;
        case TIOCMBIS:
            line->modem |= *(const int*)arg & (TIOCM_DTR | TIOCM_RTS);
            break;
        case TIOCMBIC:
            line->modem &= ~(*(const int*)arg & (TIOCM_DTR | TIOCM_RTS));
            break;
        case TIOCGICOUNT:
            count_traffic(fd, line);
            *(struct serial_icounter_struct*)arg = line->counters;
            break;
        case TIOCSERGETLSR: {
            int out_queue = 0;
            real_ioctl()(fd, TIOCOUTQ, &out_queue);
            *(unsigned int*)arg = out_queue == 0 ? TIOCSER_TEMT : 0;
            break;
        }
        default:
            answered = 0;
    }
    pthread_mutex_unlock(&lines_lock);
    if (answered) {
        note(fd, "answered", (long)request);
    }
    return answered;
}

// True when the far end of a pseudo-terminal slave has gone: the cable is out.
static int hung_up(int fd) {
    struct pollfd p = {.fd = fd, .events = POLLIN, .revents = 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLHUP) != 0;
}

static int is_line_request(unsigned long request) {
    return request == FIONREAD || request == TIOCOUTQ || request == TIOCMGET ||
           request == TIOCGICOUNT || request == TIOCSERGETLSR;
}

int ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (is_line_request(request) && fd >= 0 && is_pty_slave(fd) && hung_up(fd)) {
        note(fd, "hung up", (long)request);
        errno = EIO;
        return -1;
    }
    const int result = real_ioctl()(fd, request, arg);
    if (result < 0 && arg && (errno == ENOTTY || errno == EINVAL || errno == EIO)) {
        const int saved = errno;
        if (answer(fd, request, arg)) {
            errno = 0;
            return 0;
        }
        errno = saved;
    }
    return result;
}
