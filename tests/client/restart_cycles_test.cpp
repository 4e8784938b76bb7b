// One receiver brought up and stopped a thousand times with real VP8 frames
// in flight: queued, half decoded, handed over, or racing the stop, and in
// some cycles after the stream was marked ended. Every cycle checks what
// its owner would notice: stop's log lines, the decode thread gone, nothing
// handed over after stop, the decoder and the buffers released. Built for
// the ThreadSanitizer run as much as for the normal one.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <sys/syscall.h>
#include <unistd.h>

#include "encoded_stream.h"
#include "fragmenter.h"
#include "log_text.h"
#include "decode_hooks.h"
#include "receiver_peer.h"
#include "sdl_fixture.h"
#include "video_receiver.h"
#include "wait_until.h"

using client_test::EncodedStream;
using talvek::VideoCodec;
using talvek::client::VideoReceiver;
using talvek::testing::pointer_text;
using talvek::testing::wait_until;
using Peer = talvek::client::VideoReceiverTestPeer;
using namespace std::chrono_literals;

namespace {

constexpr int W = 160;
constexpr int H = 120;
// No more than the ring holds, so no frame is overwritten and the stream
// always decodes cleanly from its keyframe: any error line is a fault.
constexpr size_t FRAMES = VideoReceiver::DECODE_QUEUE_SLOTS;
constexpr double MIN_PSNR = 30.0;

// Where the stop finds the frames.
enum class StopAt {
    Queued,        // all frames queued, the thread held before it looks at them
    MidBatch,      // the thread held inside the first frame of its batch
    AfterPicture,  // a picture handed over, more frames fed right before the stop
    Racing,        // frames fed and stopped at once, nothing held
};
// Whether mark_stream_ended comes first.
enum class Ended { No, MarkedFirst };

const char* name_of(StopAt s) {
    switch (s) {
        case StopAt::Queued: return "Queued";
        case StopAt::MidBatch: return "MidBatch";
        case StopAt::AfterPicture: return "AfterPicture";
        case StopAt::Racing: return "Racing";
    }
    return "?";
}

// A joined thread leaves the process's task list a moment after the join.
bool task_gone(pid_t tid) {
    const std::string path = "/proc/self/task/" + std::to_string(tid);
    return wait_until([&] { return !std::filesystem::exists(path); }, 5s);
}

// The process's threads by name, for a failure message.
std::vector<std::string> task_names() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(entry.path() / "comm");
        std::string name;
        std::getline(comm, name);
        names.push_back(name);
    }
    return names;
}

std::string joined(const std::vector<std::string>& names) {
    std::string out;
    for (const auto& n : names) out += (out.empty() ? "" : ", ") + n;
    return out;
}

std::string stop_lines(uint32_t window_id, const std::string& window, const std::string& renderer,
                       const std::string& texture) {
    const std::string p = "[RECV SDL DESTROY] uid=0: ";
    std::string out =
        "[VideoReceiver] Stopping decode thread and cleaning up codecs for user 0\n"
        "[VideoReceiver] Signaling decode thread to stop\n"
        "[VideoReceiver] Waiting for decode thread to join...\n"
        "[VideoReceiver] Decode thread joined successfully\n"
        "[VideoReceiver] Decode and codec cleanup complete\n"
        "[RECV SDL DESTROY] uid=0, window_id=" + std::to_string(window_id) +
        ": START (window=" + window + ", renderer=" + renderer + ", texture=" + texture + ")\n";
    if (window != pointer_text(nullptr)) {
        out += p + "Sleeping 10ms for event processing\n" +
               p + "Destroying texture " + texture + "\n" + p + "Texture destroyed\n" +
               p + "Destroying renderer " + renderer + "\n" + p + "Renderer destroyed\n" +
               p + "Destroying window " + window + " (ID=" + std::to_string(window_id) + ")\n" +
               p + "Window destroyed\n";
    }
    return out + p + "COMPLETE\n[VideoReceiver] Stop complete\n";
}

const char* const MARK_LINE =
    "[VideoReceiver] Stream marked as ended, decode thread signaled to stop\n";

// What the decode thread of the current cycle did, seen through its hooks.
struct CycleProbe {
    std::atomic<StopAt> stop_at{StopAt::Racing};
    std::atomic<bool> first_pass{true};
    std::atomic<bool> first_frame{true};
    std::atomic<bool> in_batch{false};
    std::atomic<pid_t> tid{0};
    std::atomic<int> batches{0};
    std::atomic<int> frames_decoded{0};
    std::atomic<int> hand_overs{0};
    std::atomic<int> exits{0};

    void reset(StopAt s) {
        stop_at = s;
        first_pass = true;
        first_frame = true;
        in_batch = false;
        tid = 0;
        batches = 0;
        frames_decoded = 0;
        hand_overs = 0;
        exits = 0;
    }
};

// Drives one receiver through cycles; `windowed` cycles use init_for_udp
// and draw between the frames, the others run without SDL.
class CycleDriver {
public:
    // `hooks` must be the receiver's decode observer.
    CycleDriver(VideoReceiver& r, talvek::testing::DecodeHooks& hooks, const EncodedStream& s,
                bool windowed_)
        : receiver(r), stream(s), windowed(windowed_) {
        hooks.before_wait = [this] {
            if (!probe.first_pass.exchange(false)) return;
            if (probe.stop_at == StopAt::Queued) hold_while_running();
        };
        hooks.on_batch = [this](const auto&) { ++probe.batches; };
        hooks.after_frame = [this](size_t) {
            ++probe.frames_decoded;
            if (probe.stop_at == StopAt::MidBatch && probe.first_frame.exchange(false)) {
                probe.in_batch = true;
                hold_while_running();
            }
        };
        hooks.after_batch = [this](bool handed_over) {
            if (handed_over) ++probe.hand_overs;
        };
        // A thread stopped before its first pass still comes here.
        hooks.on_exit = [this] {
            probe.tid = static_cast<pid_t>(syscall(SYS_gettid));
            ++probe.exits;
        };
    }

    // One bring-up and stop; returns whether the stop caught frames that
    // were queued or being decoded (for the racing cycles' tally).
    bool run(int cycle, StopAt stop_at, Ended ended) {
        SCOPED_TRACE(std::string("cycle ") + std::to_string(cycle) + " " + name_of(stop_at) +
                     (ended == Ended::MarkedFirst ? " ended" : ""));
        probe.reset(stop_at);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const bool up = windowed ? receiver.init_for_udp(W, H, VideoCodec::VP8)
                                 : receiver.init_without_window(W, H, VideoCodec::VP8);
        std::string expected_out =
            windowed ? "[VideoReceiver] Standalone initialized (160x120)\n" : "";
        bool in_flight = false;
        if (up) {
            in_flight = feed(stop_at);
            if (ended == Ended::MarkedFirst) {
                mark_and_check_input_is_ignored();
                expected_out += MARK_LINE;
            }
        }
        const uint32_t window_id = receiver.get_window_id();
        const std::string window = pointer_text(Peer::window(receiver));
        const std::string renderer = pointer_text(Peer::renderer(receiver));
        const std::string texture = pointer_text(Peer::texture(receiver));
        receiver.stop();
        const std::string out = testing::internal::GetCapturedStdout();
        const std::string err = testing::internal::GetCapturedStderr();
        if (!up) {
            ADD_FAILURE() << "bring-up failed: " << err;
            return false;
        }
        if (stop_at == StopAt::Racing) in_flight = probe.frames_decoded < static_cast<int>(FRAMES);

        EXPECT_EQ(out, expected_out + stop_lines(window_id, window, renderer, texture));
        EXPECT_EQ(err, "") << "a clean stream logs no error, and no join takes 5 s";
        expect_thread_gone();
        expect_released(window_id);
        expect_stop_point(stop_at);
        return in_flight;
    }

private:
    void hold_while_running() {
        while (Peer::running(receiver)) std::this_thread::sleep_for(100us);
    }

    void feed_frame(size_t index) {
        std::vector<talvek::tools::Datagram> datagrams;
        const auto& packet = stream.packets[index];
        ASSERT_TRUE(talvek::tools::cut_into_fragments(static_cast<uint32_t>(index + 1),
                                                      packet.data(), packet.size(), {},
                                                      datagrams));
        for (const auto& d : datagrams) {
            receiver.handle_fragment(d.data(), static_cast<int>(d.size()));
            if (windowed) receiver.render();
        }
    }

    bool feed(StopAt stop_at) {
        switch (stop_at) {
            case StopAt::Queued:
                for (size_t i = 0; i < FRAMES; ++i) feed_frame(i);
                EXPECT_EQ(Peer::queued_frames(receiver).size(), FRAMES);
                return true;
            case StopAt::MidBatch:
                for (size_t i = 0; i < 3; ++i) feed_frame(i);
                EXPECT_TRUE(wait_until([&] { return probe.in_batch.load(); }));
                return true;
            case StopAt::AfterPicture: {
                feed_frame(0);
                EXPECT_TRUE(wait_until([&] { return probe.hand_overs > 0; }));
                if (windowed) {
                    receiver.render();  // uploads it
                } else {
                    std::vector<uint8_t> picture;
                    EXPECT_TRUE(Peer::take_picture(receiver, picture));
                    EXPECT_GT(client_test::psnr_bgr(picture,
                                                    client_test::reference_bgra(stream, 0, W, H)),
                              MIN_PSNR);
                }
                for (size_t i = 1; i < FRAMES; ++i) feed_frame(i);
                return true;
            }
            case StopAt::Racing:
                for (size_t i = 0; i < FRAMES; ++i) feed_frame(i);
                return false;  // decided after the stop
        }
        return false;
    }

    // After the mark no new frame enters the queue and no record starts.
    void mark_and_check_input_is_ignored() {
        receiver.mark_stream_ended();
        EXPECT_FALSE(Peer::running(receiver));
        const size_t queued = Peer::queued_frames(receiver).size();
        feed_frame(0);
        EXPECT_EQ(Peer::queued_frames(receiver).size(), queued);
        EXPECT_EQ(Peer::record_count(receiver), 0u);
    }

    void expect_thread_gone() {
        EXPECT_EQ(probe.exits, 1) << "the thread body returned once";
        ASSERT_NE(probe.tid, 0);
        EXPECT_TRUE(task_gone(probe.tid)) << "thread " << probe.tid << " still in the process";
    }

    void expect_released(uint32_t window_id) {
        EXPECT_FALSE(Peer::running(receiver));
        EXPECT_TRUE(Peer::cleanup_done(receiver));
        EXPECT_FALSE(Peer::decoder_open(receiver));
        EXPECT_EQ(Peer::display_bytes(receiver), 0u);
        EXPECT_FALSE(Peer::frame_ready(receiver)) << "a picture handed over after stop";
        std::vector<uint8_t> picture;
        EXPECT_FALSE(Peer::take_picture(receiver, picture));
        EXPECT_TRUE(Peer::queued_frames(receiver).empty());
        EXPECT_EQ(Peer::record_count(receiver), 0u);
        EXPECT_EQ(Peer::buffered_bytes(receiver), 0u);
        if (windowed) {
            EXPECT_EQ(Peer::window(receiver), nullptr);
            EXPECT_EQ(SDL_GetWindowFromID(window_id), nullptr);
        }
    }

    void expect_stop_point(StopAt stop_at) {
        const int decoded = probe.frames_decoded;
        switch (stop_at) {
            case StopAt::Queued:
                EXPECT_EQ(probe.batches, 0) << "what was left in the queue is not decoded";
                break;
            case StopAt::MidBatch:
                EXPECT_EQ(decoded, 1) << "no further frame of the batch is sent";
                EXPECT_EQ(probe.hand_overs, 0) << "no conversion after the stop";
                break;
            case StopAt::AfterPicture:
                EXPECT_GE(probe.hand_overs, 1);
                break;
            case StopAt::Racing:
                break;
        }
    }

    VideoReceiver& receiver;
    const EncodedStream& stream;
    const bool windowed;
    CycleProbe probe;
};

StopAt stop_at_for(int cycle) { return static_cast<StopAt>(cycle % 4); }
Ended ended_for(int cycle) { return (cycle / 4) % 2 ? Ended::MarkedFirst : Ended::No; }

}  // namespace

TEST(RestartCycles, ThousandStartStopCyclesWithFramesInFlight) {
    EncodedStream stream;
    ASSERT_TRUE(client_test::encode_moving_picture(client_test::Encoder::Vp8, W, H,
                                                   static_cast<int>(FRAMES), stream));
    // A first thread makes the runtime start any helper thread of its own
    // (ThreadSanitizer has one), so the count below is the steady one.
    std::thread([] {}).join();
    const std::vector<std::string> tasks_before = task_names();
    int racing_in_flight = 0;
    {
        talvek::testing::DecodeHooks hooks;
        VideoReceiver receiver{{.decode_observer = hooks.observer()}};
        CycleDriver driver(receiver, hooks, stream, /*windowed=*/false);
        for (int cycle = 0; cycle < 1000; ++cycle) {
            const StopAt stop_at = stop_at_for(cycle);
            const bool in_flight = driver.run(cycle, stop_at, ended_for(cycle));
            if (stop_at == StopAt::Racing && in_flight) ++racing_in_flight;
            if (::testing::Test::HasFailure()) break;  // one cycle's story is enough
        }
        testing::internal::CaptureStdout();
    }
    testing::internal::GetCapturedStdout();
    // Every decoder worker and join watchdog (5 s each) is gone in the end.
    EXPECT_TRUE(wait_until([&] { return task_names().size() <= tasks_before.size(); }, 15s))
        << "threads now: " << joined(task_names()) << "; before: " << joined(tasks_before);
    ::testing::Test::RecordProperty("racing_cycles_stopped_in_flight", racing_in_flight);
    std::printf("racing cycles stopped with frames in flight: %d of 250\n", racing_in_flight);
    // All 250 here; a run where none raced has not tested the race at all.
    EXPECT_GT(racing_in_flight, 0) << "no racing cycle stopped with frames in flight";
}

using WindowedRestartCycles = client_test::SdlTest;

// Fewer cycles: each teardown pauses 10 ms for the window's events.
TEST_F(WindowedRestartCycles, HundredCyclesDrawingWhileFramesAreInFlight) {
    EncodedStream stream;
    ASSERT_TRUE(client_test::encode_moving_picture(client_test::Encoder::Vp8, W, H,
                                                   static_cast<int>(FRAMES), stream));
    talvek::testing::DecodeHooks hooks;
    use_receiver({.decode_observer = hooks.observer()});
    CycleDriver driver(*receiver, hooks, stream, /*windowed=*/true);
    for (int cycle = 0; cycle < 100; ++cycle) {
        driver.run(cycle, stop_at_for(cycle), ended_for(cycle));
        if (HasFailure()) break;
    }
}
