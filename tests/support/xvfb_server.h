#pragma once
// A private X server for one test program, so end-to-end tests never depend
// on (or disturb) the user's display and can run side by side.

#include <memory>
#include <string>

#include "child_process.h"

namespace talvek::testing {

class XvfbServer {
public:
    // Starts Xvfb on a free display and points $DISPLAY at it.
    XvfbServer();
    bool ok() const { return !display_name.empty(); }
    const std::string& display() const { return display_name; }

private:
    std::unique_ptr<ChildProcess> server;
    std::string display_name;
};

}  // namespace talvek::testing
