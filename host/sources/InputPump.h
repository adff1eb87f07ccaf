#pragma once
// Copies an input that may wait for ever (a FIFO whose writer pauses, a
// device) into a pipe, on a thread of its own: a reader that cannot watch
// for a stop itself (libsndfile retries every interrupted read) reads the
// pipe, which ends at the end of the input or as soon as a stop is
// requested.

#include <thread>

#include "toolkit/StopSignals.h"

namespace host {

class InputPump {
public:
    // Takes `input` (closed when the pump goes). Throws std::system_error
    // when the pipe cannot be made.
    InputPump(int input, toolkit::StopToken stop);
    ~InputPump();
    InputPump(const InputPump&) = delete;
    InputPump& operator=(const InputPump&) = delete;

    // The pipe's end to read; its reader must not close it.
    int fd() const { return readEnd_; }

private:
    void pump();

    int input_;
    toolkit::StopToken stop_;
    int readEnd_ = -1;
    int writeEnd_ = -1;
    int quit_ = -1;  // eventfd: the pump is going
    std::thread thread_;
};

}  // namespace host
