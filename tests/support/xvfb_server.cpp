#include "xvfb_server.h"

#include <cstdlib>

namespace talvek::testing {

XvfbServer::XvfbServer() {
    // -displayfd makes the server pick a free display and print its number.
    server = std::make_unique<ChildProcess>(std::vector<std::string>{
        "/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0", "1920x1080x24", "-nolisten", "tcp",
        // Without -noreset the server restarts whenever its last client leaves,
        // refusing connections meanwhile: between two tests, for instance.
        "-noreset"});
    if (!server->started()) return;
    if (!server->wait_for_output("\n", std::chrono::seconds(10))) return;
    std::string number = server->out();
    number = number.substr(0, number.find('\n'));
    display_name = ":" + number;
    setenv("DISPLAY", display_name.c_str(), 1);
}

}  // namespace talvek::testing
