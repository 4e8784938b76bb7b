// The real preview process, fed over loopback by the real sender, looked at
// through a private X server the way a user sees it.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>

#include "child_process.h"
#include "frame_on_screen.h"
#include "program_under_test.h"
#include "test_pattern.h"
#include "udp_socket.h"
#include "wait_until.h"
#include "x11_window.h"
#include "xvfb_server.h"

using namespace std::chrono_literals;
using talvek::testing::ChildProcess;
using talvek::testing::Screenshot;
using talvek::testing::shown_frame;
using talvek::testing::wait_for_frame;
using talvek::testing::X11Display;

namespace {

const talvek::testing::ProgramUnderTest PREVIEW("TALVEK_E2E_PREVIEW", PREVIEW_PATH);
const std::string SENDER = SENDER_PATH;
const std::string USAGE = "Usage: " + PREVIEW.shown_name() +
                          " --port <port> [--parent-port <port>] --width <w> --height <h> "
                          "[--title <title>]\n";

// Under wine each recvfrom costs 24 µs on a quiet machine and up to 200 µs
// on a busy one (1.1 µs natively; scripts/bench_windows_recv.sh),
// and preview must read a frame whole within 100 ms of its first datagram:
// 1280x720 (2634 datagrams) needs under 38 µs a read, 640x360 (659) under
// 150 µs, so both fail whenever the machine is busy. Against the Windows
// build the tests that need whole frames stream 320x180 (165 datagrams);
// the picture test keeps 1280x720.
struct FrameShape {
    int width;
    int height;
};
FrameShape whole_frames_shape(FrameShape native) {
    return PREVIEW.windows() ? FrameShape{320, 180} : native;
}

// One server for the whole program; destroyed (and so stopped) at exit.
std::unique_ptr<talvek::testing::XvfbServer> xvfb;

class PreviewEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!xvfb) xvfb = std::make_unique<talvek::testing::XvfbServer>();
    }
    void SetUp() override { ASSERT_TRUE(xvfb->ok()) << "Xvfb did not start"; }

    // Starts preview on a free port and waits for its window.
    void start_preview(std::vector<std::string> extra = {}) {
        port = talvek::testing::free_udp_port();
        std::vector<std::string> argv = PREVIEW.command({"--port", std::to_string(port)});
        argv.insert(argv.end(), extra.begin(), extra.end());
        preview = std::make_unique<ChildProcess>(argv, PREVIEW.env({"SDL_VIDEODRIVER=x11"}));
        ASSERT_TRUE(preview->wait_for_output("[Preview] Ready to receive frames", 10s))
            << preview->err();
        window = display.wait_for_window("Stream Preview", 10s);
        ASSERT_NE(window, 0u);
    }

    int run_sender(std::vector<std::string> extra, std::string* output = nullptr) {
        std::vector<std::string> argv = {SENDER, "preview", "--port", std::to_string(port)};
        argv.insert(argv.end(), extra.begin(), extra.end());
        ChildProcess sender(argv);
        int status = sender.wait(60s);
        if (output) *output = sender.out();
        return status;
    }

    void close_and_expect_clean_exit() {
        ASSERT_TRUE(display.request_close(window));
        // The sanitizer build's reports (a leak found at exit) are in err().
        EXPECT_EQ(preview->wait(10s), 0) << preview->err();
        const std::string out = preview->out();
        const std::string last = "[Preview] Shutting down\n";
        ASSERT_GE(out.size(), last.size());
        EXPECT_EQ(out.substr(out.size() - last.size()), last);
    }

    X11Display display;
    unsigned short port = 0;
    std::unique_ptr<ChildProcess> preview;
    unsigned long window = 0;
};

// Share of screenshot pixels that match no source pixel near the spot the
// stretch maps them to (nearest-neighbour scaling, so edges can shift).
double mismatch_share(const Screenshot& shot, const std::vector<uint8_t>& source, int width,
                      int height) {
    size_t bad = 0;
    for (int y = 0; y < shot.height; ++y) {
        for (int x = 0; x < shot.width; ++x) {
            const uint8_t* p = shot.pixel(x, y);
            const int sx = x * width / shot.width;
            const int sy = y * height / shot.height;
            bool matched = false;
            for (int dy = -2; dy <= 2 && !matched; ++dy) {
                for (int dx = -2; dx <= 2 && !matched; ++dx) {
                    const int cx = std::clamp(sx + dx, 0, width - 1);
                    const int cy = std::clamp(sy + dy, 0, height - 1);
                    const uint8_t* q = source.data() + (static_cast<size_t>(cy) * static_cast<size_t>(width) +
                                                        static_cast<size_t>(cx)) * 4;
                    matched = std::abs(p[0] - q[0]) < 8 && std::abs(p[1] - q[1]) < 8 &&
                              std::abs(p[2] - q[2]) < 8;
                }
            }
            if (!matched) ++bad;
        }
    }
    return static_cast<double>(bad) / (static_cast<double>(shot.width) * shot.height);
}

TEST(PreviewCommandLine, NoArgumentsPrintsUsageAndFails) {
    ChildProcess preview(PREVIEW.command(), PREVIEW.env({}));
    EXPECT_EQ(preview.wait(10s), 1);
    EXPECT_EQ(preview.err(), "[Preview] Error: --port is required\n" + USAGE);
    EXPECT_EQ(preview.out(), "");
}

TEST(PreviewCommandLine, BadDimensionsPrintTheSizeAndFail) {
    ChildProcess preview(PREVIEW.command({"--port", "5000", "--width", "-4"}), PREVIEW.env({}));
    EXPECT_EQ(preview.wait(10s), 1);
    EXPECT_EQ(preview.err(), "[Preview] Error: Invalid dimensions -4x720\n" + USAGE);
}

TEST_F(PreviewEndToEnd, ShowsTheSendersPictureAndClosesCleanly) {
    ASSERT_NO_FATAL_FAILURE(start_preview());
    int w = 0, h = 0;
    ASSERT_TRUE(display.window_size(window, w, h));
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 360);

    ASSERT_EQ(run_sender({"--frames", "12", "--fps", "10"}), 0);

    const Screenshot shot = wait_for_frame(display, window, 12, 5s);
    const uint32_t shown = shown_frame(shot);
    shot.save_ppm(::testing::TempDir() + "preview_e2e.ppm");
    // A frame is 2634 datagrams sent in 100 ms; on a busy machine the
    // socket's buffer can fill while preview draws, and a frame that lost a
    // datagram is never shown. The picture on screen must then still be an
    // exact earlier frame.
    const long drops = talvek::testing::udp_socket_drops(port);
    if (shown != 12 && shown != 0 && drops > 0) {
        EXPECT_LT(shown, 12u) << drops << " datagrams dropped at preview's socket";
    } else if (PREVIEW.windows() && shown != 12) {
        // Under wine a 1280x720 frame is read whole within its 100 ms only
        // while the machine is idle (see whole_frames_shape): an earlier
        // frame on screen must still be exact, and none at all is the wine
        // limit, not a pass.
        if (shown == 0) {
            close_and_expect_clean_exit();
            GTEST_SKIP() << "wine limit: no 1280x720 frame was read whole within 100 ms";
        }
        EXPECT_LE(shown, 12u);
    } else {
        EXPECT_EQ(shown, 12u) << "the last frame sent is the one on screen (" << drops
                              << " datagrams dropped at preview's socket)";
    }
    const auto source = talvek::tools::make_test_pattern(1280, 720, shown);
    EXPECT_LT(mismatch_share(shot, source, 1280, 720), 0.001);

    close_and_expect_clean_exit();
    EXPECT_EQ(preview->out().rfind("[Preview] Starting preview window (1280x720) on port " +
                                       std::to_string(port) + "\n",
                                   0),
              0u);
}

// The screen readers outlive the windows they watch: reading a window
// whose program has gone is a failed call, not the end of this process.
TEST_F(PreviewEndToEnd, ReadingAWindowThatIsGoneFailsQuietly) {
    ASSERT_NO_FATAL_FAILURE(start_preview());
    close_and_expect_clean_exit();
    int w = 0, h = 0;
    Screenshot shot;
    talvek::testing::wait_until([&] { return !display.window_size(window, w, h); }, 5s, 20ms);
    EXPECT_FALSE(display.window_size(window, w, h));
    EXPECT_FALSE(display.capture(window, shot));
}

TEST_F(PreviewEndToEnd, LossyStreamShowsOnlyCompleteFrames) {
    const FrameShape shape = whole_frames_shape({1280, 720});
    const std::string w = std::to_string(shape.width), h = std::to_string(shape.height);
    ASSERT_NO_FATAL_FAILURE(start_preview({"--width", w, "--height", h}));
    // About a third of the frames arrive whole at these rates: 2634
    // datagrams a frame at 1280x720, 165 at 320x180.
    const char* drop = shape.width == 1280 ? "0.0004" : "0.0064";
    std::string sender_out;
    std::thread sender([&] {
        run_sender({"--width", w, "--height", h, "--frames", "60", "--fps", "15", "--drop", drop,
                    "--seed", "3", "--verbose"},
                   &sender_out);
    });

    std::vector<Screenshot> shots;
    const auto end = std::chrono::steady_clock::now() + 4500ms;
    while (std::chrono::steady_clock::now() < end) {
        Screenshot shot;
        if (display.capture(window, shot)) shots.push_back(std::move(shot));
        std::this_thread::sleep_for(40ms);
    }
    sender.join();

    std::set<uint32_t> complete, incomplete;
    std::istringstream lines(sender_out);
    for (std::string line; std::getline(lines, line);) {
        unsigned frame = 0, datagrams = 0, dropped = 0;
        if (std::sscanf(line.c_str(), "[Sender] frame %u: %u datagrams, %u dropped", &frame,
                        &datagrams, &dropped) == 3) {
            (dropped == 0 ? complete : incomplete).insert(frame);
        }
    }
    ASSERT_EQ(complete.size() + incomplete.size(), 60u) << sender_out;
    ASSERT_FALSE(incomplete.empty());
    ASSERT_FALSE(complete.empty());

    std::set<uint32_t> seen;
    for (const Screenshot& shot : shots) {
        const uint32_t n = shown_frame(shot);
        if (n == 0) continue;  // nothing shown yet
        EXPECT_TRUE(complete.count(n)) << "frame " << n << " was shown but lost datagrams";
        const auto source = talvek::tools::make_test_pattern(shape.width, shape.height, n);
        EXPECT_LT(mismatch_share(shot, source, shape.width, shape.height), 0.001) << "frame " << n;
        seen.insert(n);
    }
    EXPECT_GE(seen.size(), 3u) << "too few frames on screen to tell";
    close_and_expect_clean_exit();
}

TEST_F(PreviewEndToEnd, OddSizeAndOwnTitle) {
    const FrameShape even = whole_frames_shape({1280, 720});
    const FrameShape odd{even.width + 1, even.height + 1};
    const std::string w = std::to_string(odd.width), h = std::to_string(odd.height);
    port = talvek::testing::free_udp_port();
    preview = std::make_unique<ChildProcess>(
        PREVIEW.command({"--port", std::to_string(port), "--width", w, "--height", h, "--title",
                         "Odd one"}),
        PREVIEW.env({"SDL_VIDEODRIVER=x11"}));
    ASSERT_TRUE(preview->wait_for_output("[Preview] Ready", 10s)) << preview->err();
    window = display.wait_for_window("Odd one", 10s);
    ASSERT_NE(window, 0u);
    int window_w = 0, window_h = 0;
    ASSERT_TRUE(display.window_size(window, window_w, window_h));
    EXPECT_EQ(window_w, odd.width / 2);
    EXPECT_EQ(window_h, odd.height / 2);

    ASSERT_EQ(run_sender({"--width", w, "--height", h, "--frames", "5", "--fps", "10"}), 0);
    // What matters here is the odd size: a frame lost to a busy machine may
    // leave an earlier one on screen, but whichever shows must be exact.
    const Screenshot shot = wait_for_frame(display, window, 5, 5s);
    const uint32_t shown = shown_frame(shot);
    EXPECT_TRUE(shown >= 1 && shown <= 5) << shown;
    const auto source = talvek::tools::make_test_pattern(odd.width, odd.height, shown);
    EXPECT_LT(mismatch_share(shot, source, odd.width, odd.height), 0.001);
    close_and_expect_clean_exit();
}

TEST_F(PreviewEndToEnd, MalformedDatagramsAreDroppedSilently) {
    // A small frame keeps the good stream well inside the socket buffer.
    const FrameShape shape = whole_frames_shape({640, 360});
    const std::string w = std::to_string(shape.width), h = std::to_string(shape.height);
    ASSERT_NO_FATAL_FAILURE(start_preview({"--width", w, "--height", h}));
    talvek::UDPSocket sock;
    ASSERT_TRUE(sock.bind(0));
    std::vector<uint8_t> junk(2048, 0xFF);
    for (size_t len : {size_t{1}, size_t{27}, size_t{39}, size_t{40}, size_t{41}, size_t{1440},
                       size_t{2048}}) {
        sock.send(junk.data(), len, "127.0.0.1", port);
    }
    std::vector<uint8_t> too_long(3000, 0);
    sock.send(too_long.data(), too_long.size(), "127.0.0.1", port);  // beyond the 2048 buffer
    ASSERT_EQ(run_sender({"--width", w, "--height", h, "--frames", "3", "--fps", "10"}), 0);
    const Screenshot shot = wait_for_frame(display, window, 3, 5s);
    const uint32_t shown = shown_frame(shot);
    EXPECT_TRUE(shown >= 1 && shown <= 3) << "no good frame after the junk: " << shown;
    EXPECT_LT(mismatch_share(shot, talvek::tools::make_test_pattern(shape.width, shape.height, shown),
                             shape.width, shape.height),
              0.001);
    close_and_expect_clean_exit();
    // The oversized datagram is the only one reported, with the system's
    // code for it (EMSGSIZE, or Winsock's WSAEMSGSIZE).
    const std::string report = "[UDPSocket] recvfrom() failed: " +
                               std::to_string(talvek::testing::socket_error_code(PREVIEW, EMSGSIZE)) +
                               "\n";
    const std::string err = preview->err();
    EXPECT_NE(err.find(report), std::string::npos) << err;
    size_t socket_lines = 0;
    for (size_t at = err.find("[UDPSocket]"); at != std::string::npos;
         at = err.find("[UDPSocket]", at + 1)) {
        ++socket_lines;
    }
    EXPECT_EQ(socket_lines, 1u) << err;
}

}  // namespace
