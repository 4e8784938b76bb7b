// The host side of the screen-audio latency benchmark: sends player a marked
// sound as screen-audio datagrams and watches what SDL's disk audio driver
// writes, both on one clock, then prints how long each marked packet waited
// between arriving and being played.
//
// The sound is silence with a 10 ms 1 kHz burst at the start of every second,
// followed by the second's number in 20 ms slots of the same tone (below),
// encoded as the sender encodes (48 kHz stereo, 96 kbit/s, 20 ms packets) and
// sent one packet every 20 ms / --rate: with --rate 1.005 the host's clock
// runs 0.5 % fast, so 1.005 s of sound arrives every second. With
// --burst-at T the packets of the --burst-seconds (default 2) after stream
// second T go out at once at T, and the rest follow at the usual pace, that
// much earlier: a burst of late packets, as a stalled network delivers them.
//
// A burst's first loud sample in the played file is matched, through the
// number after it, to the packet that carried it (the codec's own delay is
// found by decoding the packets here); the number survives the player's
// dropping of packets and its slightly faster play. Its play time is when the
// driver wrote it: the file's growth is polled every 0.5 ms, and a sample
// written in a block plays its position in the block after the block's
// write. The delay of the packet is that play time, less the sample's offset
// in the packet, less the packet's send time (loopback adds microseconds).
// How much shorter the played sound is than the sound sent, between two
// numbered seconds, tells what the player removed: more than 2.5 % in a
// span means dropped packets, less means faster play.
//
// Usage: audio_latency --port P --file PLAYED.raw [--rate R] [--seconds S]
//                      [--every S] [--burst-at T] [--burst-seconds B]
// Prints one line per --every seconds of stream (default 60), the seconds
// around a burst, then a summary.

#include <opus.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "audio_encoder.h"
#include "media_header.h"
#include "udp_socket.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int RATE_HZ = 48000;
constexpr int PACKET_SAMPLES = 960;  // per channel, 20 ms
constexpr int BURST_SAMPLES = 480;   // 10 ms
constexpr int BURST_AMPLITUDE = 8000;
// A played sample above this after at least half a second below it is an
// onset; concealment and codec ringing stay far below.
constexpr int ONSET_THRESHOLD = 2000;
constexpr long QUIET_BEFORE_ONSET = RATE_HZ / 2;
// The second's number follows its burst, in slots of 20 ms from 20 ms after
// the burst's start: 12 bits, lowest first, then an even-parity bit; a 1 is
// the burst's tone for the whole slot, a 0 silence. The slots end 280 ms in,
// so the next burst still finds half a second of quiet before it. A slot is
// read in its middle third, which faster play (2 % at most) shifts by 5 ms
// at most by the last slot.
constexpr int NUMBER_BITS = 12;
constexpr int SLOTS = NUMBER_BITS + 1;
constexpr int SLOT_SAMPLES = 960;
constexpr int SLOT_THRESHOLD = 2500;  // mean |sample| of a 1; the tone gives 5100
// Of the sound between two numbered seconds, more than this share missing
// means packets were dropped there (faster play takes 2 % at most).
constexpr double DROP_SHARE = 0.025;

struct Options {
    uint16_t port = 0;
    std::string file;
    double rate = 1.0;
    double seconds = 600.0;
    double every = 60.0;
    double burst_at = -1.0;  // none
    double burst_seconds = 2.0;
};

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const char* value = argv[i + 1];
        if (key == "--port") o.port = static_cast<uint16_t>(std::atoi(value));
        else if (key == "--file") o.file = value;
        else if (key == "--rate") o.rate = std::atof(value);
        else if (key == "--seconds") o.seconds = std::atof(value);
        else if (key == "--every") o.every = std::atof(value);
        else if (key == "--burst-at") o.burst_at = std::atof(value);
        else if (key == "--burst-seconds") o.burst_seconds = std::atof(value);
        else return false;
    }
    return o.port != 0 && !o.file.empty() && o.rate > 0.0 && o.seconds > 0.0 && o.every > 0.0 &&
           o.burst_seconds > 0.0;
}

int parity(int bits) {
    int p = 0;
    for (; bits != 0; bits >>= 1) p ^= bits & 1;
    return p;
}

// Sample n of the marked sound, both channels alike.
int16_t marked_sample(int64_t n) {
    const int64_t in_second = n % RATE_HZ;
    const double t = static_cast<double>(in_second) / RATE_HZ;
    const auto tone = [&] {
        return static_cast<int16_t>(BURST_AMPLITUDE * std::sin(2.0 * M_PI * 1000.0 * t));
    };
    if (in_second < BURST_SAMPLES) return tone();
    const int64_t slot = in_second / SLOT_SAMPLES - 1;
    if (slot < 0 || slot >= SLOTS) return 0;
    const int number = static_cast<int>((n / RATE_HZ) % (1 << NUMBER_BITS));
    const int code = number | parity(number) << NUMBER_BITS;
    return (code >> slot) & 1 ? tone() : 0;
}

// The second's number after the burst that starts at frame `onset`, or -1
// when the slots are cut off or do not add up (a drop or a fade ran through
// them).
int read_number(const std::vector<int16_t>& stereo, long onset) {
    int code = 0;
    for (int slot = 0; slot < SLOTS; ++slot) {
        const long from = onset + SLOT_SAMPLES * (slot + 1) + SLOT_SAMPLES / 3;
        const long to = from + SLOT_SAMPLES / 3;
        if (2 * static_cast<size_t>(to) > stereo.size()) return -1;
        long sum = 0;
        for (long f = from; f < to; ++f) sum += std::abs(stereo[2 * static_cast<size_t>(f)]);
        if (sum / (to - from) > SLOT_THRESHOLD) code |= 1 << slot;
    }
    const int number = code & ((1 << NUMBER_BITS) - 1);
    return parity(number) == (code >> NUMBER_BITS) ? number : -1;
}

std::vector<std::vector<uint8_t>> encode_marked(long packets) {
    std::vector<std::vector<uint8_t>> out;
    talvek::tools::AudioEncoder encoder;
    if (!encoder.open(96'000, 20)) return out;
    std::vector<int16_t> pcm(PACKET_SAMPLES * 2);
    for (long p = 0; p < packets; ++p) {
        for (int i = 0; i < PACKET_SAMPLES; ++i) {
            const int16_t v = marked_sample(int64_t{p} * PACKET_SAMPLES + i);
            pcm[static_cast<size_t>(2 * i)] = v;
            pcm[static_cast<size_t>(2 * i + 1)] = v;
        }
        std::vector<uint8_t> packet;
        if (!encoder.encode(pcm.data(), packet)) return {};
        out.push_back(std::move(packet));
    }
    return out;
}

// Onsets in interleaved stereo (left channel), as frame indexes.
std::vector<long> onsets(const std::vector<int16_t>& stereo) {
    std::vector<long> found;
    long quiet = QUIET_BEFORE_ONSET;  // the stream may start with a burst
    for (size_t f = 0; 2 * f < stereo.size(); ++f) {
        if (std::abs(stereo[2 * f]) > ONSET_THRESHOLD) {
            if (quiet >= QUIET_BEFORE_ONSET) found.push_back(static_cast<long>(f));
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return found;
}

// The codec's delay: where the first burst starts once decoded.
long codec_delay(const std::vector<std::vector<uint8_t>>& packets) {
    int error = 0;
    OpusDecoder* decoder = opus_decoder_create(RATE_HZ, 2, &error);
    if (decoder == nullptr) return -1;
    std::vector<int16_t> decoded;
    std::vector<int16_t> pcm(PACKET_SAMPLES * 2);
    for (size_t p = 0; p < packets.size() && p < 100; ++p) {
        const int n = opus_decode(decoder, packets[p].data(), static_cast<opus_int32>(packets[p].size()),
                                  pcm.data(), PACKET_SAMPLES, 0);
        if (n > 0) decoded.insert(decoded.end(), pcm.begin(), pcm.begin() + 2 * n);
    }
    opus_decoder_destroy(decoder);
    const std::vector<long> first = onsets(decoded);
    return first.empty() ? -1 : first.front();
}

struct Growth {
    double seconds;  // since the start, when the size was seen
    long frames;     // file size in stereo frames
};

off_t file_size(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

std::vector<int16_t> read_played(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<int16_t> stereo(bytes.size() / 2);
    std::memcpy(stereo.data(), bytes.data(), stereo.size() * 2);
    return stereo;
}

// When frame f was played: its block's write time plus its place in the block.
double play_time(const std::vector<Growth>& growth, long f) {
    auto it = std::upper_bound(growth.begin(), growth.end(), f,
                               [](long frame, const Growth& g) { return frame < g.frames; });
    if (it == growth.end()) return -1.0;
    const long block_start = it == growth.begin() ? 0 : std::prev(it)->frames;
    return it->seconds + static_cast<double>(f - block_start) / RATE_HZ;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: audio_latency --port P --file PLAYED.raw [--rate R] [--seconds S] "
                     "[--every S]\n");
        return 2;
    }
    const long packets_total = std::lround(o.seconds * 50.0 * o.rate);
    std::fprintf(stderr, "[audio_latency] encoding %ld packets\n", packets_total);
    const auto packets = encode_marked(packets_total);
    const long delay = codec_delay(packets);
    if (packets.empty() || delay < 0) {
        std::fprintf(stderr, "[audio_latency] the encoder failed\n");
        return 1;
    }

    talvek::UDPSocket socket;
    if (!socket_init() || !socket.bind(0)) return 1;  // the socket said why

    std::vector<double> sent(packets.size());
    std::vector<Growth> growth;
    std::vector<uint8_t> datagram;
    const off_t size_at_start = std::max<off_t>(file_size(o.file), 0);
    const Clock::time_point start = Clock::now();
    const auto since_start = [&] {
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    const auto poll_file = [&] {
        const off_t size = file_size(o.file);
        if (size < 0) return;
        const long frames = static_cast<long>((size - size_at_start) / 4);
        if (growth.empty() || frames > growth.back().frames) growth.push_back({since_start(), frames});
    };

    // The burst: packets [burst_first, burst_end) all go at burst_first's time.
    const long burst_first = o.burst_at < 0 ? -1 : std::lround(o.burst_at * 50.0);
    const long burst_end = burst_first < 0 ? -1 : burst_first + std::lround(o.burst_seconds * 50.0);
    const auto send_offset = [&](long p) {
        if (burst_first >= 0 && p >= burst_first) {
            p = p < burst_end ? burst_first : p - (burst_end - burst_first);
        }
        return 0.02 * static_cast<double>(p) / o.rate;
    };
    for (size_t p = 0; p < packets.size(); ++p) {
        const auto due = start + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(send_offset(static_cast<long>(p))));
        while (Clock::now() < due) {
            poll_file();
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        talvek::MediaHeader header{};
        header.sequence = static_cast<uint32_t>(p + 1);
        header.payload_length = static_cast<uint16_t>(packets[p].size());
        header.flags = talvek::VOICE_FLAG_SCREEN_AUDIO;
        datagram.resize(talvek::MEDIA_HEADER_SIZE + packets[p].size());
        std::memcpy(datagram.data(), &header, sizeof header);
        std::memcpy(datagram.data() + talvek::MEDIA_HEADER_SIZE, packets[p].data(), packets[p].size());
        sent[p] = since_start();
        socket.send(datagram.data(), datagram.size(), "127.0.0.1", o.port);
    }
    // Let the queue play out: it holds at most the lag built up so far.
    const double drain_until =
        since_start() + 2.0 + o.seconds * std::abs(o.rate - 1.0) + 0.05 * o.seconds;
    while (since_start() < drain_until) {
        poll_file();
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }

    std::vector<int16_t> played = read_played(o.file);
    played.erase(played.begin(), played.begin() + std::min<long>(size_at_start / 2, static_cast<long>(played.size())));
    const std::vector<long> found = onsets(played);
    const long bursts_sent = (static_cast<long>(packets.size()) * PACKET_SAMPLES - delay) / RATE_HZ + 1;

    // Each onset's second, from the number after it. A number is taken when
    // it comes after the last one taken by no more seconds than the sound
    // played since allows (a little more for faster play, a burst's length
    // more for dropping), so one misread cannot hide the numbers after it.
    struct Mark {
        long second;
        long frame;  // where it was played
    };
    std::vector<Mark> marks;
    long unreadable = 0;
    const long most_dropped = 3 + (o.burst_at < 0 ? 0 : std::lround(std::ceil(o.burst_seconds)));
    for (const long f : found) {
        const int number = read_number(played, f);
        long second = number;  // numbers wrap after 4096 s
        if (number >= 0 && !marks.empty()) {
            while (second <= marks.back().second) second += 1 << NUMBER_BITS;
            const double played_s = static_cast<double>(f - marks.back().frame) / RATE_HZ;
            if (static_cast<double>(second - marks.back().second) > played_s * 1.03 + static_cast<double>(most_dropped)) {
                second = -1;
            }
        }
        if (second < 0 || second >= bursts_sent) {
            ++unreadable;
            continue;
        }
        marks.push_back({second, f});
    }
    std::printf("rate %.4f: %zu packets sent over %.1f s, %zu of %ld bursts found in %.1f s played "
                "(%ld more unreadable)\n",
                o.rate, packets.size(), sent.back(), marks.size(), bursts_sent,
                static_cast<double>(played.size() / 2) / RATE_HZ, unreadable);
    if (marks.empty() || growth.size() < 2) return 1;

    // The device's own pace: frames written a second of wall time.
    const Growth& a = growth.front();
    const Growth& b = growth.back();
    std::printf("disk driver pace: %.1f frames/s (%.5f of 48000)\n",
                static_cast<double>(b.frames - a.frames) / (b.seconds - a.seconds),
                static_cast<double>(b.frames - a.frames) / (b.seconds - a.seconds) / RATE_HZ);
    std::printf("%10s %8s %12s\n", "sent s", "burst", "delay ms");
    double next_report = 0.0;
    double first_delay = -1.0;
    double last_delay = -1.0;
    double max_delay = 0.0;
    const double burst_sent_at = burst_first < 0 ? -1.0 : send_offset(burst_first);
    std::vector<std::string> around_burst;
    for (const Mark& m : marks) {
        const long decoded_frame = m.second * RATE_HZ + delay;
        const size_t packet = static_cast<size_t>(decoded_frame / PACKET_SAMPLES);
        if (packet >= sent.size()) break;
        const double offset = static_cast<double>(decoded_frame % PACKET_SAMPLES) / RATE_HZ;
        const double played_at = play_time(growth, m.frame);
        if (played_at < 0) break;
        const double d = (played_at - offset - sent[packet]) * 1000.0;
        if (first_delay < 0) first_delay = d;
        last_delay = d;
        max_delay = std::max(max_delay, d);
        if (sent[packet] >= next_report) {
            std::printf("%10.1f %8ld %12.1f\n", sent[packet], m.second, d);
            while (next_report <= sent[packet]) next_report += o.every;
        }
        if (burst_first >= 0 && sent[packet] >= burst_sent_at - 2.0 &&
            sent[packet] <= burst_sent_at + 5.0) {
            char line[96];
            std::snprintf(line, sizeof line, "%10.2f %8ld %12.1f", sent[packet] - burst_sent_at,
                          m.second, d);
            around_burst.emplace_back(line);
        }
    }
    if (burst_first >= 0) {
        std::printf("around the burst (%.1f s of packets at once, sent at %.1f s):\n%10s %8s %12s\n",
                    o.burst_seconds, burst_sent_at, "after s", "burst", "delay ms");
        for (const std::string& line : around_burst) std::printf("%s\n", line.c_str());
    }
    std::printf("delay: first %.1f ms, last %.1f ms, max %.1f ms, growth %.2f ms per second of stream\n",
                first_delay, last_delay, max_delay,
                (last_delay - first_delay) / std::max(1.0, sent.back()));

    // What the player left out, from the played length between numbered
    // seconds (silence it played for want of sound counts against it).
    const auto ms_of = [](long frames) { return static_cast<double>(frames) * 1000.0 / RATE_HZ; };
    // A span with dropped packets was played faster too, as fast as the
    // spans without: that share of it is not counted as dropped.
    struct Span {
        long frames;   // sent
        long missing;  // sent but not played; negative for silence added
    };
    std::vector<Span> spans;
    long faster_frames = 0;
    long faster_span = 0;
    long silence_frames = 0;
    for (size_t k = 1; k < marks.size(); ++k) {
        const long span = (marks[k].second - marks[k - 1].second) * RATE_HZ;
        const long missing = span - (marks[k].frame - marks[k - 1].frame);
        spans.push_back({span, missing});
        if (static_cast<double>(missing) <= DROP_SHARE * static_cast<double>(span)) {
            faster_frames += std::max(0L, missing);
            silence_frames += std::max(0L, -missing);
            faster_span += span;
        }
    }
    const double faster_share =
        static_cast<double>(faster_frames) / static_cast<double>(std::max(1L, faster_span));
    long dropped_packets = 0;
    long drop_spans = 0;
    for (const Span& span : spans) {
        if (static_cast<double>(span.missing) <= DROP_SHARE * static_cast<double>(span.frames)) continue;
        ++drop_spans;
        dropped_packets += std::lround(
            (static_cast<double>(span.missing) - faster_share * static_cast<double>(span.frames)) /
            PACKET_SAMPLES);
    }
    std::printf("left out: about %ld packets of 20 ms dropped, in %ld span(s); %.0f ms by faster "
                "play (%.3f %% of the %.0f s without drops); %.0f ms of silence added\n",
                dropped_packets, drop_spans, ms_of(faster_frames), 100.0 * faster_share,
                static_cast<double>(faster_span) / RATE_HZ, ms_of(silence_frames));
    // Drops take the bursts that happen to lie in what they drop; a run that
    // reads fewer than nine in ten has measured too little.
    return static_cast<long>(marks.size()) * 10 >= bursts_sent * 9 ? 0 : 1;
}
