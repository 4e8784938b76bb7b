// The audio stream in process, on a clock the test drives: which packets
// are due when, what --audio-gain and --audio-drop do to them, all sent
// over real loopback to a socket of the test.

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <vector>

#include "audio_stream.h"
#include "media_header.h"
#include "test_audio.h"
#include "test_tone.h"
#include "udp_socket.h"

namespace talvek::tools {
namespace {

using Clock = AudioStream::Clock;
using std::chrono::milliseconds;

struct Arrived {
    uint32_t sequence;
    std::vector<uint8_t> packet;
};

class AudioStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(receiver.bind(0));
        receiver.set_recv_buffer(4 << 20);
        options.port = receiver.get_bound_port();
    }

    std::unique_ptr<AudioStream> make_stream(long packets) {
        link = std::make_unique<Link>(options.host, options.port, options.impairment);
        EXPECT_TRUE(link->open(0));
        auto stream = std::make_unique<AudioStream>(options, make_tone_source(), *link, packets);
        EXPECT_TRUE(stream->open());
        return stream;
    }

    // Everything already waiting on the socket.
    std::vector<Arrived> drain() {
        std::vector<Arrived> out;
        std::vector<uint8_t> buffer(65536);
        for (;;) {
            const int n = receiver.recv(buffer.data(), buffer.size(), 50);
            if (n <= 0) return out;
            EXPECT_GE(n, 29);
            const MediaHeader h = read_media_header(buffer.data());
            EXPECT_EQ(h.flags, VOICE_FLAG_SCREEN_AUDIO);
            EXPECT_EQ(h.payload_length, n - 28);
            out.push_back({h.sequence, {buffer.begin() + 28, buffer.begin() + n}});
        }
    }

    static std::vector<int16_t> decode_all(const std::vector<Arrived>& arrived) {
        testing::OpusTestDecoder decoder;
        std::vector<int16_t> pcm;
        for (const Arrived& a : arrived) {
            EXPECT_GT(decoder.decode(a.packet.data(), a.packet.size(), 5760, pcm), 0);
        }
        return pcm;
    }

    SenderOptions options;
    UDPSocket receiver;
    std::unique_ptr<Link> link;
};

TEST_F(AudioStreamTest, PacketsFallDueEveryPacketInterval) {
    options.audio_sequence.first = 500;
    std::unique_ptr<AudioStream> stream = make_stream(20);
    const Clock::time_point t0 = Clock::now();
    stream->start(t0);
    ASSERT_TRUE(stream->send_due(t0));
    EXPECT_EQ(drain().size(), 1u) << "packet 0 is due at the start";
    ASSERT_TRUE(stream->send_due(t0 + milliseconds(19)));
    EXPECT_EQ(drain().size(), 0u);
    ASSERT_TRUE(stream->send_due(t0 + milliseconds(100)));
    const std::vector<Arrived> next = drain();
    ASSERT_EQ(next.size(), 5u) << "packets 1 to 5, due at 20 to 100 ms";
    EXPECT_EQ(next.front().sequence, 501u);
    EXPECT_EQ(next.back().sequence, 505u);
    EXPECT_EQ(stream->next_due(), t0 + milliseconds(120));
    ASSERT_TRUE(stream->send_due(t0 + std::chrono::hours(1)));
    EXPECT_EQ(drain().size(), 14u) << "no more than the 20 asked for";
    EXPECT_TRUE(stream->finished());
    EXPECT_EQ(stream->counts().packets, 20);
}

TEST_F(AudioStreamTest, FortyMsPacketsComeHalfAsOften) {
    options.audio_packet_ms = 40;
    std::unique_ptr<AudioStream> stream = make_stream(10);
    const Clock::time_point t0 = Clock::now();
    stream->start(t0);
    ASSERT_TRUE(stream->send_due(t0 + milliseconds(200)));
    const std::vector<Arrived> arrived = drain();
    ASSERT_EQ(arrived.size(), 6u) << "due at 0, 40 ... 200 ms";
    testing::OpusTestDecoder decoder;
    for (const Arrived& a : arrived) {
        std::vector<int16_t> pcm;
        EXPECT_EQ(decoder.decode(a.packet.data(), a.packet.size(), 5760, pcm), 1920);
    }
}

TEST_F(AudioStreamTest, GainScalesWhatIsHeard) {
    std::vector<double> levels;
    for (double gain : {1.0, 0.5, 0.0}) {
        options.audio_gain = gain;
        std::unique_ptr<AudioStream> stream = make_stream(25);
        const Clock::time_point t0 = Clock::now();
        stream->start(t0);
        ASSERT_TRUE(stream->send_due(t0 + std::chrono::hours(1)));
        const std::vector<int16_t> pcm = decode_all(drain());
        ASSERT_EQ(pcm.size(), 25u * 1920);
        // After the codec's start-up, the 440 Hz second.
        const std::vector<int16_t> steady(pcm.begin() + 5 * 1920, pcm.end());
        levels.push_back(testing::rms(testing::channel_of(steady, 0)));
    }
    EXPECT_NEAR(levels[0], TONE_AMPLITUDE / std::sqrt(2.0), TONE_AMPLITUDE * 0.1);
    EXPECT_NEAR(levels[1] / levels[0], 0.5, 0.05);
    EXPECT_LT(levels[2], 30.0) << "gain 0 is silence";
}

TEST_F(AudioStreamTest, AudioDropLosesPacketsTheSameWayForTheSameSeed) {
    options.audio_drop = 0.3;
    options.impairment.seed = 9;
    std::vector<std::set<uint32_t>> runs;
    for (int run = 0; run < 2; ++run) {
        std::unique_ptr<AudioStream> stream = make_stream(200);
        const Clock::time_point t0 = Clock::now();
        stream->start(t0);
        ASSERT_TRUE(stream->send_due(t0 + std::chrono::hours(1)));
        std::set<uint32_t> heard;
        uint32_t last = 0;
        for (const Arrived& a : drain()) {
            EXPECT_GT(a.sequence, last) << "in order, each once";
            last = a.sequence;
            heard.insert(a.sequence);
        }
        EXPECT_EQ(heard.size() + stream->counts().audio_dropped, 200u);
        EXPECT_EQ(link->impairment_counts().offered, heard.size())
            << "what --audio-drop took never reached the link";
        EXPECT_GT(stream->counts().audio_dropped, 30u);
        EXPECT_LT(stream->counts().audio_dropped, 90u);
        runs.push_back(heard);
    }
    EXPECT_EQ(runs[0], runs[1]);
}

}  // namespace
}  // namespace talvek::tools
