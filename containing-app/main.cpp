// containing-app: see ContainingApp.h and `containing-app --help`.

#include <iostream>

#include "AppOptions.h"
#include "ContainingApp.h"

int main(int argc, char** argv) {
    auto parsed = containing_app::parseOptions(argc, argv);
    if (const int* status = std::get_if<int>(&parsed)) return *status;
    try {
        return containing_app::runContainingApp(std::get<containing_app::AppOptions>(parsed), std::cout, std::cerr);
    } catch (const std::exception& error) {
        std::cerr << "containing-app: error: " << error.what() << "\n";
        return containing_app::kExitFailure;
    }
}
