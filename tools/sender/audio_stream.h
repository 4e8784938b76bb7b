#pragma once
// The screen audio as the host application sends it: one Opus packet per
// packet interval (50 a second at 20 ms), each in its own screen-audio
// datagram, through the same impaired link as the video, plus a loss of
// its own (--audio-drop) for concealment tests.
//
// Packet k holds source samples k * packet_samples onward and is due at
// start + k * interval, whatever its sequence number says; it is read and
// encoded ahead of its time so that it leaves when due.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio_encoder.h"
#include "audio_sequence.h"
#include "audio_source.h"
#include "impairment.h"
#include "link.h"
#include "sender_options.h"

namespace talvek::tools {

struct AudioCounts {
    long packets = 0;           // encoded and offered to the link or --audio-drop
    uint64_t opus_bytes = 0;    // Opus packet bytes of those
    uint64_t audio_dropped = 0; // lost to --audio-drop, before the link
};

// Packets a run of `duration` seconds holds, capped by an explicit list.
long audio_packets_for(const SenderOptions& options, double duration);

// "N audio packets (B Opus bytes, D lost to --audio-drop)", for the
// summary lines.
std::string describe_audio_counts(const AudioCounts& counts);

// The tone, or the sound of --input. A file without sound is an error when
// `sound_required`; otherwise the tone is sent and a line says so. Null
// after an error, logged.
std::unique_ptr<AudioSource> open_audio_source(const SenderOptions& options, bool sound_required);

class AudioStream {
public:
    using Clock = Link::Clock;

    // Sends `packets` packets from `source` through `link`.
    AudioStream(const SenderOptions& options, std::unique_ptr<AudioSource> source, Link& link,
                long packets);

    bool open();  // logs why not
    void start(Clock::time_point start);

    // Sends every packet due by `now`, then prepares the next. False after
    // a source or encoder error (logged); the stream is finished then.
    bool send_due(Clock::time_point now);

    // Sends the packets at their times until all are out or `stop` is set,
    // calling `between` (when given) at least once a millisecond while it
    // waits. In the player mode this runs on the audio thread, so a frame
    // being encoded never holds a packet back. False after an error.
    bool run(const std::function<void()>& between, const std::atomic<bool>* stop);

    bool finished() const { return failed || next_packet >= total; }
    Clock::time_point next_due() const { return start_time + interval * next_packet; }
    long packets() const { return total; }
    const AudioCounts& counts() const { return totals; }

    // The start-up line, with its newline.
    std::string describe() const;

private:
    bool prepare();
    void send_prepared();

    const SenderOptions& o;
    std::unique_ptr<AudioSource> source;
    Link& link;
    long total;
    AudioEncoder encoder;
    Impairment audio_drop;
    Clock::duration interval;
    Clock::time_point start_time{};
    long next_packet = 0;
    bool prepared = false;
    bool failed = false;
    std::vector<int16_t> pcm;
    std::vector<uint8_t> packet;
    Datagram datagram;
    AudioCounts totals;
};

}  // namespace talvek::tools
