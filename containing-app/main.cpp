// containing-app: see ContainingApp.h and `containing-app --help`.

#include <iostream>

#include "AppOptions.h"
#include "ContainingApp.h"
#include "toolkit/CommandLineStyle.h"

int main(int argc, char** argv) {
    auto parsed = containing_app::parseOptions(argc, argv);
    int status = containing_app::kExitOk;
    if (const int* early = std::get_if<int>(&parsed)) {
        status = *early;
    } else {
        try {
            status =
                containing_app::runContainingApp(std::get<containing_app::AppOptions>(parsed), std::cout, std::cerr);
        } catch (const std::exception& error) {
            std::cerr << "containing-app: error: " << error.what() << "\n";
            status = containing_app::kExitFailure;
        }
    }
    // The help, the version and every event line must have reached their
    // reader; a failure already reported stands.
    if (status != containing_app::kExitOutputUnwritable)
        if (const std::optional<std::string> failure = toolkit::standardOutputFailure()) {
            std::cerr << "containing-app: error: cannot write to standard output: " << *failure << "\n";
            if (status == containing_app::kExitOk) status = containing_app::kExitOutputUnwritable;
        }
    return status;
}
