#pragma once
// A private PulseAudio server for one test: run in the foreground with its
// own configuration (an anonymous unix socket in a private runtime
// directory, a null sink "apps"), and PULSE_SERVER pointed at it while the
// object lives. Works as root. started() is false, with the reason, when
// the server is not installed or does not come up.

#include <memory>
#include <string>

#include "tests/notify/TestSupport.h"
#include "tests/support/TempDirectory.h"

namespace testing_support {

class SoundServer {
public:
    SoundServer();
    ~SoundServer();
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;

    bool started() const { return server_ != nullptr && problem_.empty(); }
    const std::string& problem() const { return problem_; }
    std::string address() const { return "unix:" + dir_ / "native"; }
    void kill();  // SIGKILL, as a crashing server goes

private:
    TempDirectory dir_;
    std::unique_ptr<notifytest::Child> server_;
    std::unique_ptr<notifytest::ScopedEnv> pulseServer_;
    std::string problem_;
};

// The full path of `program` on PATH, or empty.
std::string findProgram(const std::string& program);

}  // namespace testing_support
