// The real sender with the options a soak run uses: a pre-encoded clip
// restarted by a keyframe request, garbage bursts whose frame ids the
// stream steps over, and the event log that records both.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "media_header.h"
#include "sender_process_test.h"

namespace talvek::tools {
namespace {

struct Event {
    long long ns = 0;
    std::string kind;
    std::vector<long long> fields;
};

std::vector<Event> read_events(const std::string& path) {
    std::vector<Event> events;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        Event e;
        words >> e.ns >> e.kind;
        for (long long v; words >> v;) e.fields.push_back(v);
        events.push_back(e);
    }
    return events;
}

// One-fragment frames: frame i of the clip is i + 1 repeated 20 + i times.
std::vector<uint8_t> clip_frame(int i) {
    return std::vector<uint8_t>(static_cast<size_t>(20 + i), static_cast<uint8_t>(i + 1));
}

void write_clip(const std::string& path, int frames) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const uint32_t header[2] = {0x50434c31, static_cast<uint32_t>(frames)};
    std::fwrite(header, sizeof header, 1, f);
    for (int i = 0; i < frames; ++i) {
        const uint8_t key = i == 0 ? 1 : 0;
        const std::vector<uint8_t> data = clip_frame(i);
        const auto size = static_cast<uint32_t>(data.size());
        std::fwrite(&key, 1, 1, f);
        std::fwrite(&size, 4, 1, f);
        std::fwrite(data.data(), 1, data.size(), f);
    }
    std::fclose(f);
}

struct Arrived {
    uint32_t id;
    int picture;  // index in the clip + 1, from the bytes
};

TEST_F(SenderProcessTest, KeyframeRequestRestartsTheClipUnderRisingIds) {
    const std::string clip = ::testing::TempDir() + "soak_clip.bin";
    const std::string log = ::testing::TempDir() + "soak_clip_events.txt";
    write_clip(clip, 5);
    start_sender("player", {"--listen-port", "0", "--clip", clip, "--fps", "60", "--frames",
                            "30", "--event-log", log, "--quiet"});
    std::vector<Arrived> arrived;
    const int status = receive_until_exit([&](const uint8_t* d, int n) {
        ASSERT_GT(n, FRAGMENT_PAYLOAD_OFFSET);
        const FragmentHeader h = read_fragment_header(d);
        ASSERT_EQ(h.fragment_count, 1);
        arrived.push_back({h.frame_id, d[FRAGMENT_PAYLOAD_OFFSET]});
        EXPECT_EQ(h.payload_size, 20 + arrived.back().picture - 1);
        if (arrived.size() == 8) send_to_sender({'K', 'F', 'R', 'Q'});
    });
    ASSERT_EQ(status, 0) << sender->err();
    ASSERT_EQ(arrived.size(), 30u);

    // In clip order, starting over after its fifth frame, ids rising by one.
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(arrived[i].picture, static_cast<int>(i % 5) + 1);
    size_t restart = 0;
    for (size_t i = 1; i < arrived.size(); ++i) {
        EXPECT_EQ(arrived[i].id, arrived[i - 1].id + 1);
        // The first frame out of turn is the restart at the keyframe.
        if (restart == 0 && i >= 8 &&
            arrived[i].picture != arrived[i - 1].picture % 5 + 1) {
            restart = i;
        }
    }
    ASSERT_NE(restart, 0u) << "the request never restarted the clip";
    EXPECT_EQ(arrived[restart].picture, 1);

    // The log has the request, and the first frame after it is that keyframe.
    const std::vector<Event> events = read_events(log);
    size_t kfrq = events.size();
    for (size_t i = 0; i < events.size(); ++i) {
        if (events[i].kind == "kfrq") kfrq = i;
    }
    ASSERT_LT(kfrq + 1, events.size());
    const Event& answer = events[kfrq + 1];
    ASSERT_EQ(answer.kind, "frame");
    ASSERT_EQ(answer.fields.size(), 5u);  // id, picture, datagrams, dropped, key
    EXPECT_EQ(answer.fields[0], arrived[restart].id);
    EXPECT_EQ(answer.fields[1], 1);
    EXPECT_EQ(answer.fields[4], 1);
    EXPECT_GE(answer.ns, events[kfrq].ns);
    std::remove(clip.c_str());
    std::remove(log.c_str());
}

TEST_F(SenderProcessTest, GarbageBurstsTakeIdsTheStreamStepsOver) {
    const std::string log = ::testing::TempDir() + "soak_garbage_events.txt";
    start_sender("player", {"--listen-port", "0", "--width", "64", "--height", "48", "--fps",
                            "50", "--frames", "25", "--garbage-every", "0.2", "--garbage-burst",
                            "4", "--kind", "count-zero", "--event-log", log, "--quiet"});
    std::vector<uint32_t> frame_ids;
    std::vector<uint32_t> garbage_ids;
    const int status = receive_until_exit([&](const uint8_t* d, int n) {
        ASSERT_GE(n, FRAGMENT_PAYLOAD_OFFSET);
        const FragmentHeader h = read_fragment_header(d);
        std::vector<uint32_t>& ids = h.fragment_count == 0 ? garbage_ids : frame_ids;
        if (ids.empty() || ids.back() != h.frame_id) ids.push_back(h.frame_id);
    });
    ASSERT_EQ(status, 0) << sender->err();

    std::vector<Event> bursts;
    for (const Event& e : read_events(log)) {
        if (e.kind == "garbage") bursts.push_back(e);
    }
    ASSERT_EQ(bursts.size(), 2u);  // at 0.2 and 0.4 s of a 0.5 s stream
    ASSERT_EQ(garbage_ids.size(), bursts.size() * 4);
    for (size_t b = 0; b < bursts.size(); ++b) {
        const auto first = static_cast<uint32_t>(bursts[b].fields[0]);
        EXPECT_EQ(bursts[b].fields[1], 4);
        for (uint32_t k = 0; k < 4; ++k) EXPECT_EQ(garbage_ids[b * 4 + k], first + k);
        // The frame after the burst takes the next id; none falls inside it.
        for (uint32_t id : frame_ids) EXPECT_TRUE(id < first || id >= first + 4) << id;
        EXPECT_NE(std::find(frame_ids.begin(), frame_ids.end(), first + 4), frame_ids.end());
    }
    EXPECT_EQ(frame_ids.size(), 25u);
    std::remove(log.c_str());
}

}  // namespace
}  // namespace talvek::tools
