#include "SoundServer.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace testing_support {

std::string findProgram(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::istringstream directories(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string directory; std::getline(directories, directory, ':');)
        if (::access((directory + "/" + program).c_str(), X_OK) == 0) return directory + "/" + program;
    return {};
}

namespace {

bool answers(const std::string& socketPath) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

}  // namespace

SoundServer::SoundServer() {
    const std::string program = findProgram("pulseaudio");
    if (program.empty()) {
        problem_ = "pulseaudio is not installed";
        return;
    }
    std::ofstream(dir_ / "server.pa") << "load-module module-native-protocol-unix auth-anonymous=1 socket="
                                      << dir_ / "native" << "\n"
                                      << "load-module module-null-sink sink_name=apps rate=44100 channels=2\n";
    {
        // The server keeps its state and runtime files in the private directory.
        notifytest::ScopedEnv runtime("XDG_RUNTIME_DIR", dir_.path().c_str());
        notifytest::ScopedEnv home("HOME", dir_.path().c_str());
        notifytest::ScopedEnv runtimePath("PULSE_RUNTIME_PATH", dir_.path().c_str());
        notifytest::ScopedEnv statePath("PULSE_STATE_PATH", dir_.path().c_str());
        server_ = std::make_unique<notifytest::Child>(std::vector<std::string>{
            program, "--daemonize=no", "--exit-idle-time=-1", "-n", "-F", dir_ / "server.pa", "--log-level=error"});
    }
    for (int i = 0; i < 200 && !answers(dir_ / "native"); ++i) {
        if (::kill(server_->pid(), 0) != 0 || i == 199) {
            problem_ = "the private pulseaudio did not start";
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    pulseServer_ = std::make_unique<notifytest::ScopedEnv>("PULSE_SERVER", address().c_str());
}

SoundServer::~SoundServer() { kill(); }

void SoundServer::kill() {
    if (server_ == nullptr) return;
    ::kill(server_->pid(), SIGKILL);
    server_->wait(std::chrono::seconds(5));
    server_.reset();
}

}  // namespace testing_support
