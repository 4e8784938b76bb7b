#include "audio_stream.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <thread>

#include "audio_datagram.h"
#include "log.h"
#include "test_tone.h"

namespace talvek::tools {

namespace {

ImpairmentOptions audio_drop_options(const SenderOptions& o) {
    ImpairmentOptions drop;
    drop.drop_rate = o.audio_drop;
    // A generator of its own, seeded from --seed: the same seed loses the
    // same packets whatever the video and the link draw meanwhile.
    drop.seed = o.impairment.seed ^ 0x5a0d10u;
    return drop;
}

void apply_gain(std::vector<int16_t>& pcm, double gain) {
    if (gain == 1.0) return;
    for (int16_t& s : pcm) {
        const double v = std::clamp(static_cast<double>(s) * gain, -32768.0, 32767.0);
        s = static_cast<int16_t>(std::lround(v));
    }
}

}  // namespace

std::string describe_audio_counts(const AudioCounts& c) {
    char text[160];
    std::snprintf(text, sizeof text, "%ld audio packets (%" PRIu64 " Opus bytes, %" PRIu64
                  " lost to --audio-drop)", c.packets, c.opus_bytes, c.audio_dropped);
    return text;
}

std::unique_ptr<AudioSource> open_audio_source(const SenderOptions& o, bool sound_required) {
    if (o.input.empty()) return make_tone_source();
    std::unique_ptr<AudioSource> source;
    switch (open_file_audio_source(o.input, source)) {
    case FileAudioStatus::Opened:
        return source;
    case FileAudioStatus::NoAudioStream:
        if (sound_required) {
            log_err("[Sender] Error: %s has no audio stream\n", o.input.c_str());
            return nullptr;
        }
        log_out("[Sender] %s has no audio stream: sending the test tone\n", o.input.c_str());
        return make_tone_source();
    case FileAudioStatus::Failed:
        break;
    }
    return nullptr;  // Error already logged
}

long audio_packets_for(const SenderOptions& o, double duration) {
    long n = std::lround(duration * 1000.0 / o.audio_packet_ms);
    const long limit = sequence_plan_limit(o.audio_sequence);
    if (limit >= 0) n = std::min(n, limit);
    return n;
}

AudioStream::AudioStream(const SenderOptions& options, std::unique_ptr<AudioSource> source_,
                         Link& link_, long packets)
    : o(options), source(std::move(source_)), link(link_), total(packets),
      audio_drop(audio_drop_options(options)),
      interval(std::chrono::duration_cast<Clock::duration>(
          std::chrono::duration<double, std::milli>(options.audio_packet_ms /
                                                    options.audio_clock_rate))) {}

bool AudioStream::open() {
    if (!encoder.open(static_cast<int>(o.audio_bitrate), o.audio_packet_ms)) return false;
    pcm.resize(static_cast<size_t>(encoder.packet_samples()) * AUDIO_CHANNELS);
    return true;
}

void AudioStream::start(Clock::time_point start) {
    start_time = start;
    next_packet = 0;
    prepared = false;
}

std::string AudioStream::describe() const {
    char numbering[96];
    if (o.audio_sequence.list.empty() && o.audio_sequence.jump > 0) {
        std::snprintf(numbering, sizeof numbering, "sequence from %u, %u skipped before packet %ld",
                      o.audio_sequence.first, o.audio_sequence.jump, o.audio_sequence.jump_at);
    } else if (o.audio_sequence.list.empty()) {
        std::snprintf(numbering, sizeof numbering, "sequence from %u", o.audio_sequence.first);
    } else {
        std::snprintf(numbering, sizeof numbering, "%zu listed sequences",
                      o.audio_sequence.list.size());
    }
    char line[512];
    std::snprintf(line, sizeof line,
                  "[Sender] audio: %s, Opus %ld bit/s, %d ms packets, gain %.3g, %s, to %s:%u, "
                  "%ld packets\n",
                  source->describe().c_str(), o.audio_bitrate, o.audio_packet_ms, o.audio_gain,
                  numbering, o.host.c_str(), o.port, total);
    return line;
}

bool AudioStream::prepare() {
    if (!source->read(pcm.data(), encoder.packet_samples())) return false;
    apply_gain(pcm, o.audio_gain);
    if (!encoder.encode(pcm.data(), packet)) return false;
    datagram = make_screen_audio_datagram(sequence_for_packet(o.audio_sequence, next_packet),
                                          packet.data(), packet.size());
    prepared = true;
    return true;
}

void AudioStream::send_prepared() {
    const uint32_t sequence = sequence_for_packet(o.audio_sequence, next_packet);
    bool lost = true;
    bool through_link = false;
    if (audio_drop.push(datagram, [&](const Datagram& d) { through_link = link.send(d); })) {
        lost = !through_link;
    } else {
        ++totals.audio_dropped;
    }
    ++totals.packets;
    totals.opus_bytes += packet.size();
    if (o.verbose) {
        log_out("[Sender] audio %u: %zu bytes, %s\n", sequence, packet.size(),
                lost ? "dropped" : "sent");
    }
    ++next_packet;
    prepared = false;
}

bool AudioStream::send_due(Clock::time_point now) {
    while (!finished() && now >= next_due()) {
        if (!prepared && !prepare()) {
            failed = true;
            return false;
        }
        send_prepared();
    }
    if (!finished() && !prepared && !prepare()) {
        failed = true;
        return false;
    }
    return true;
}

bool AudioStream::run(const std::function<void()>& between, const std::atomic<bool>* stop) {
    while (!finished() && !(stop && stop->load())) {
        const Clock::time_point due = next_due();
        if (between) {
            for (;;) {
                between();
                const Clock::time_point now = Clock::now();
                if (now >= due) break;
                std::this_thread::sleep_for(
                    std::min<Clock::duration>(due - now, std::chrono::milliseconds(1)));
            }
        } else {
            std::this_thread::sleep_until(due);
        }
        send_due(Clock::now());
    }
    return !failed;
}

}  // namespace talvek::tools
