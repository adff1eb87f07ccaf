#include "InputPump.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace host {
namespace {

// Waits until `fd` is ready for `events`; false when the pump must end
// instead (a stop, its owner going, or an error).
bool waitFor(int fd, short events, int quit, const toolkit::StopToken& stop) {
    for (;;) {
        pollfd fds[3] = {{fd, events, 0}, {quit, POLLIN, 0}, {stop.fd(), POLLIN, 0}};
        if (::poll(fds, stop.fd() >= 0 ? 3 : 2, -1) < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (fds[1].revents != 0 || stop.requested()) return false;
        if (fds[0].revents != 0) return true;
    }
}

}  // namespace

InputPump::InputPump(int input, toolkit::StopToken stop) : input_(input), stop_(stop) {
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC) != 0 || (quit_ = ::eventfd(0, EFD_CLOEXEC)) < 0) {
        const int error = errno;
        for (int fd : {ends[0], ends[1], input_})
            if (fd >= 0) ::close(fd);
        throw std::system_error(error, std::generic_category(), "cannot make a pipe for the input");
    }
    readEnd_ = ends[0];
    writeEnd_ = ends[1];
    // The pump never blocks in a write: it waits in poll, where it can be told to end.
    ::fcntl(writeEnd_, F_SETFL, ::fcntl(writeEnd_, F_GETFL) | O_NONBLOCK);
    thread_ = std::thread(&InputPump::pump, this);
}

InputPump::~InputPump() {
    const uint64_t one = 1;
    (void)!::write(quit_, &one, sizeof one);
    thread_.join();
    for (int fd : {readEnd_, quit_, input_}) ::close(fd);
}

// A FIFO whose writer has not come yet polls neither readable nor hung up,
// so the input is read only once poll says so; reading nothing then is its end.
void InputPump::pump() {
    char block[1 << 16];
    for (;;) {
        if (!waitFor(input_, POLLIN, quit_, stop_)) break;
        const ssize_t got = ::read(input_, block, sizeof block);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got <= 0) break;
        bool written = true;
        for (ssize_t done = 0; done < got && written;) {
            written = waitFor(writeEnd_, POLLOUT, quit_, stop_);
            const ssize_t n = written ? ::write(writeEnd_, block + done, static_cast<size_t>(got - done)) : -1;
            if (n > 0) done += n;
            written = written && (n > 0 || errno == EINTR || errno == EAGAIN);
        }
        if (!written) break;
    }
    ::close(writeEnd_);  // the reader sees the end
}

}  // namespace host
