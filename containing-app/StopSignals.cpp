#include "StopSignals.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace containing_app {

StopSignals::StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0) fd_ = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    // Without a signalfd the signals keep their default action and still stop us.
    if (fd_ < 0) pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

StopSignals::~StopSignals() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace containing_app
