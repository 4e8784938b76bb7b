// The real `sender` process streaming to a socket of the test over
// loopback, as it streams to a player: the test joins the fragments,
// decodes what arrives and answers with the player's replies.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "media_header.h"
#include "sender_process_test.h"
#include "test_decoder.h"
#include "test_video_file.h"
#include "udp_socket.h"

using namespace std::chrono_literals;

namespace talvek::tools {
namespace {

struct ArrivedFrame {
    uint32_t id = 0;
    std::vector<uint8_t> data;
};

// Joins video fragments by frame id; a frame is whole once every index of
// its count has come. Also checks that each datagram is one a player takes.
class FrameJoiner {
public:
    bool add(const uint8_t* d, int length, ArrivedFrame& out) {
        EXPECT_GE(length, 41);
        if (length < 41) return false;
        EXPECT_FALSE(is_screen_audio(read_media_header(d).flags));
        const FragmentHeader f = read_fragment_header(d);
        EXPECT_GE(f.fragment_count, 1);
        EXPECT_LE(f.fragment_count, 1000);
        EXPECT_LT(f.fragment_index, f.fragment_count);
        EXPECT_EQ(f.payload_size, length - 40);
        EXPECT_LE(f.payload_size, 1400);
        Partial& p = partial[f.frame_id];
        if (p.pieces.empty()) p.pieces.resize(f.fragment_count);
        if (f.fragment_index >= p.pieces.size() || !p.pieces[f.fragment_index].empty()) {
            return false;
        }
        p.pieces[f.fragment_index].assign(d + 40, d + length);
        if (++p.received < p.pieces.size()) return false;
        out.id = f.frame_id;
        out.data.clear();
        for (const auto& piece : p.pieces) {
            out.data.insert(out.data.end(), piece.begin(), piece.end());
        }
        partial.erase(f.frame_id);
        return true;
    }
    size_t incomplete() const { return partial.size(); }

private:
    struct Partial {
        std::vector<std::vector<uint8_t>> pieces;
        size_t received = 0;
    };
    std::map<uint32_t, Partial> partial;
};

struct DecodedFrame {
    uint32_t id;
    size_t bytes;
    bool keyframe;
    uint32_t shown;  // frame number read from the picture
};

class PlayerModeTest : public SenderProcessTest,
                       public ::testing::WithParamInterface<VideoCodec> {};

TEST_P(PlayerModeTest, StreamDecodesAndKeyframeRequestIsAnswered) {
    constexpr uint32_t FIRST = 100;
    constexpr uint32_t FRAMES = 60;
    start_sender("player",
                 {"--listen-port", "0", "--codec", GetParam() == VideoCodec::H264 ? "h264" : "vp8",
                  "--width", "320", "--height", "240", "--fps", "30", "--frames",
                  std::to_string(FRAMES), "--first-frame", std::to_string(FIRST), "--verbose"});
    testing::TestDecoder decoder;
    ASSERT_TRUE(decoder.open(GetParam()));
    FrameJoiner joiner;
    std::vector<DecodedFrame> decoded;
    uint32_t last_before_request = 0;
    const int status = receive_until_exit([&](const uint8_t* d, int n) {
        ArrivedFrame frame;
        if (!joiner.add(d, n, frame)) return;
        FramePtr picture = decoder.decode(frame.data);
        ASSERT_NE(picture, nullptr) << "frame " << frame.id;
        decoded.push_back({frame.id, frame.data.size(), picture->key_frame != 0,
                           testing::shown_frame_number(picture.get())});
        if (decoded.size() == 15) {
            last_before_request = frame.id;
            // KFRQ, then AUDS with muted = 1 and volume 0.25f (0x3E800000 LE).
            send_to_sender({'K', 'F', 'R', 'Q'});
            send_to_sender({'A', 'U', 'D', 'S', 0x01, 0x00, 0x00, 0x80, 0x3E});
        }
    });
    const std::string out = sender->out();
    ASSERT_EQ(status, 0) << out << sender->err();
    EXPECT_EQ(joiner.incomplete(), 0u);

    ASSERT_EQ(decoded.size(), FRAMES);
    for (uint32_t i = 0; i < FRAMES; ++i) {
        EXPECT_EQ(decoded[i].id, FIRST + i);
        EXPECT_EQ(decoded[i].shown, FIRST + i) << "the picture shows its own frame id";
    }
    EXPECT_TRUE(decoded.front().keyframe);

    // The keyframe interval (ten seconds) is far longer than the run: any
    // keyframe after the first answers the request.
    std::vector<uint32_t> answered;
    for (size_t i = 1; i < decoded.size(); ++i) {
        if (decoded[i].keyframe) answered.push_back(decoded[i].id);
    }
    ASSERT_EQ(answered.size(), 1u) << out;
    EXPECT_GT(answered[0], last_before_request);
    // Half a second of frames: the test may read its socket late when the
    // machine is busy; the exact answer is checked on the sender's side below.
    EXPECT_LE(answered[0], last_before_request + 15) << "soon, not at the next scheduled one";

    // However the two processes were scheduled, the frame the sender started
    // after reading the request is the keyframe.
    const size_t request = out.find("[Sender] received KFRQ\n");
    ASSERT_NE(request, std::string::npos) << out;
    const size_t next_frame = out.find("[Sender] frame ", request);
    ASSERT_NE(next_frame, std::string::npos) << out;
    const std::string expected = "[Sender] frame " + std::to_string(answered[0]) + ": key, ";
    EXPECT_EQ(out.compare(next_frame, expected.size(), expected), 0) << out.substr(request);

    EXPECT_NE(out.find("[Sender] received AUDS muted=1 volume=0.250\n"), std::string::npos);
    EXPECT_NE(out.find("[Sender] keyframe frame " + std::to_string(answered[0]) + " ("),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("[Sender] done: 60 frames (2 keyframes,"), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(Codecs, PlayerModeTest,
                         ::testing::Values(VideoCodec::VP8, VideoCodec::H264),
                         [](const ::testing::TestParamInfo<VideoCodec>& param) {
                             return param.param == VideoCodec::H264 ? std::string("h264")
                                                                    : std::string("vp8");
                         });

// A file's pictures, re-encoded and sent in bursts; the per-frame lines
// tell what was sent, frame by frame.
TEST_F(SenderProcessTest, InputFileIsStreamedInFileOrder) {
    const std::string clip = testing::scratch_path("e2e_clip.mkv");
    ASSERT_TRUE(testing::write_test_video_file(clip, 320, 240, 12));
    start_sender("player", {"--input", clip, "--codec", "h264", "--width", "256", "--height", "192",
                            "--frames", "20", "--fps", "60", "--burst", "--verbose"});
    testing::TestDecoder decoder;
    ASSERT_TRUE(decoder.open(VideoCodec::H264));
    FrameJoiner joiner;
    std::vector<DecodedFrame> decoded;
    std::map<uint32_t, size_t> datagrams_per_frame;
    const int status = receive_until_exit([&](const uint8_t* d, int n) {
        if (n >= 40) ++datagrams_per_frame[read_fragment_header(d).frame_id];
        ArrivedFrame frame;
        if (!joiner.add(d, n, frame)) return;
        FramePtr picture = decoder.decode(frame.data);
        ASSERT_NE(picture, nullptr);
        EXPECT_EQ(picture->width, 256);
        EXPECT_EQ(picture->height, 192);
        decoded.push_back({frame.id, frame.data.size(), picture->key_frame != 0,
                           testing::shown_frame_number(picture.get())});
    });
    std::remove(clip.c_str());
    const std::string out = sender->out();
    ASSERT_EQ(status, 0) << out << sender->err();
    ASSERT_EQ(decoded.size(), 20u);

    for (uint32_t i = 0; i < 20; ++i) {
        EXPECT_EQ(decoded[i].id, 1 + i);  // --first-frame defaults to 1
        EXPECT_EQ(decoded[i].shown, i % 12) << "the clip's own numbering, looped";
    }

    std::istringstream lines(out);
    std::string line;
    size_t checked = 0;
    while (std::getline(lines, line)) {
        unsigned id = 0;
        char type[8] = {};
        size_t bytes = 0;
        size_t datagrams = 0;
        unsigned long long dropped = 0;
        if (std::sscanf(line.c_str(),
                        "[Sender] frame %u: %7[a-z], %zu bytes, %zu datagrams, %llu dropped", &id,
                        type, &bytes, &datagrams, &dropped) != 5) {
            continue;
        }
        ASSERT_GE(id, 1u);
        ASSERT_LE(id, 20u);
        const DecodedFrame& frame = decoded[id - 1];
        EXPECT_EQ(bytes, frame.bytes) << line;
        EXPECT_EQ(datagrams, datagrams_per_frame[id]) << line;
        EXPECT_EQ(std::string(type), frame.keyframe ? "key" : "delta") << line;
        EXPECT_EQ(dropped, 0u);
        ++checked;
    }
    EXPECT_EQ(checked, 20u) << out;
}

TEST_F(SenderProcessTest, MalformedRunSendsWhatItCounts) {
    start_sender("malformed", {"--kind", "all", "--count", "200", "--rate", "5000", "--seed", "4"});
    size_t received = 0;
    const int status = receive_until_exit([&](const uint8_t*, int) { ++received; });
    const std::string out = sender->out();
    ASSERT_EQ(status, 0) << out << sender->err();
    unsigned long long offered = 0;
    unsigned long long sent = 0;
    const size_t done = out.find("[Sender] done: 200 units, ");
    ASSERT_NE(done, std::string::npos) << out;
    ASSERT_EQ(
        std::sscanf(out.c_str() + done,
                    "[Sender] done: 200 units, %llu datagrams offered, %llu sent", &offered, &sent),
        2);
    EXPECT_EQ(sent, offered);
    EXPECT_EQ(received, sent);
    for (const char* kind :
         {"short", "payload-zero", "payload-over", "payload-beyond", "count-zero", "count-over",
          "index-beyond", "garbage-frame", "random", "never-complete"}) {
        EXPECT_NE(out.find(std::string("[Sender] ") + kind + ": "), std::string::npos) << kind;
    }
}

TEST_F(SenderProcessTest, UnknownMalformedKindIsAnError) {
    sender = std::make_unique<talvek::testing::ChildProcess>(
        std::vector<std::string>{SENDER, "malformed", "--port",
                                 std::to_string(receiver.get_bound_port()), "--kind", "tiny"});
    EXPECT_EQ(sender->wait(10s), 2);
    EXPECT_NE(sender->err().find("unknown --kind tiny"), std::string::npos) << sender->err();
}

}  // namespace
}  // namespace talvek::tools
