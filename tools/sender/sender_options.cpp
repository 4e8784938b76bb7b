#include "sender_options.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "audio_encoder.h"
#include "log.h"

namespace talvek::tools {

namespace {

bool parse_number(const char* text, double& out) {
    char* end = nullptr;
    out = std::strtod(text, &end);
    return end != text && *end == '\0';
}

bool parse_integer(const char* text, long min, long max, long& out) {
    char* end = nullptr;
    out = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && out >= min && out <= max;
}

bool parse_rate(const char* text, double& out) {
    return parse_number(text, out) && out >= 0.0 && out <= 1.0;
}

// Dotted IPv4 text as the socket takes it (no names, no leading zeros):
// refused here, a bad host would fail every send instead.
bool is_dotted_ipv4(const char* text) {
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && *text++ != '.') return false;
        int value = 0;
        int digits = 0;
        for (; *text >= '0' && *text <= '9' && digits < 4; ++text, ++digits) {
            value = value * 10 + (*text - '0');
        }
        if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && text[-digits] == '0')) {
            return false;
        }
    }
    return *text == '\0';
}

bool parse_codec(const char* text, VideoCodec& out) {
    if (std::strcmp(text, "vp8") == 0) {
        out = VideoCodec::VP8;
    } else if (std::strcmp(text, "h264") == 0) {
        out = VideoCodec::H264;
    } else {
        return false;
    }
    return true;
}

}  // namespace

void print_sender_usage(const char* program) {
    log_err(
                 "Usage: %s <mode> --port <port> [options]\n"
                 "Plays the host application toward a player or preview over loopback UDP.\n"
                 "Modes:\n"
                 "  preview            raw test-pattern frames, as the host sends them to preview\n"
                 "  player             encoded video fragments, as the host sends them to player;\n"
                 "                     prints the player's replies (KFRQ, AUDS) and answers KFRQ\n"
                 "                     with a keyframe\n"
                 "  malformed          broken datagrams for a player's robustness tests\n"
                 "  audio              screen audio only, as the host sends it to a player\n"
                 "                     started with --has-audio; prints the player's replies\n"
                 "Options:\n"
                 "  --port <port>      target port (required)\n"
                 "  --host <ip>        target address (default 127.0.0.1)\n"
                 "  --width <w>        frame width (default 1280)\n"
                 "  --height <h>       frame height (default 720)\n"
                 "  --fps <rate>       frames per second (default 30)\n"
                 "  --frames <n>       send n frames, then stop\n"
                 "  --seconds <s>      send for s seconds (default 5; ignored with --frames)\n"
                 "  --first-frame <n>  number of the first frame (default 1)\n"
                 "  --drop <rate>      lose each datagram with this chance (0 to 1)\n"
                 "  --dup <rate>       send each datagram twice with this chance\n"
                 "  --reorder <rate>   hold each datagram back with this chance\n"
                 "  --reorder-depth <n> a held datagram goes out after 1..n others (default 8)\n"
                 "  --reorder-ms <ms>  a held datagram goes out instead up to ms later\n"
                 "  --seed <n>         seed of the impairments and malformed data (default 1)\n"
                 "  --verbose          one line per frame\n"
                 "  --quiet            player, malformed: only the port, the replies and the\n"
                 "                     final summary\n"
                 "Player options:\n"
                 "  --codec <vp8|h264> encoder: libvpx or libx264 (default vp8)\n"
                 "  --bitrate <bit/s>  target rate (default 2000000)\n"
                 "  --gop <n>          frames between keyframes (default: 10 s of frames)\n"
                 "  --input <file>     send this file's video, scaled to the frame size and\n"
                 "                     repeated from the start, instead of the test picture\n"
                 "  --listen-port <p>  port that sends the video and hears the replies: the\n"
                 "                     player's --parent-port (default 0: any, printed)\n"
                 "  --burst            send each frame at once instead of pacing it over\n"
                 "                     the frame interval\n"
                 "Soak options (player and preview):\n"
                 "  --garbage-every <s> a burst of malformed datagrams every s seconds, between\n"
                 "                     two frames; the next frame's id follows the burst's\n"
                 "  --garbage-burst <n> units a burst (default 10), of the kinds of --kind\n"
                 "  --event-log <file> one line per frame, KFRQ and burst, each with the\n"
                 "                     steady clock in ns (frame: id, picture number,\n"
                 "                     datagrams, dropped, keyframe)\n"
                 "  --clip <file>      player: stream these pre-encoded frames (bench/\n"
                 "                     stream_replay --encode-only), starting over at the end;\n"
                 "                     a KFRQ restarts it at its first frame, a keyframe\n"
                 "Malformed options (also --listen-port, --first-frame, --seconds, --seed):\n"
                 "  --kind <name>      all (default, in turn), short, payload-zero,\n"
                 "                     payload-over, payload-beyond, count-zero, count-over,\n"
                 "                     index-beyond, garbage-frame, random, never-complete\n"
                 "  --count <n>        send n units (a datagram; a frame for garbage-frame)\n"
                 "  --rate <n>         units per second (default 100)\n"
                 "Audio options (player with --audio, and the audio mode; also --seconds,\n"
                 "--listen-port, --seed, the impairments, --verbose: one line per packet):\n"
                 "  --audio            player: send screen audio along with the video\n"
                 "  --input <file>     the file's sound instead of the test tone (player: when\n"
                 "                     the file has sound; audio mode: it must have)\n"
                 "  --count <n>        audio mode: send n packets (default: --seconds worth)\n"
                 "  --audio-bitrate <bit/s>  Opus target rate (default 96000)\n"
                 "  --audio-packet-ms <ms>   10, 20 (default), 40 or 60 ms per packet; a\n"
                 "                     player plays packets of up to 20 ms\n"
                 "  --audio-gain <g>   scale the samples by g, 0 to 100 (default 1)\n"
                 "  --audio-drop <rate> lose each audio datagram with this chance, before the\n"
                 "                     impairments that video and audio share\n"
                 "  --audio-clock-rate <r>  the sender's audio clock runs r times real time,\n"
                 "                     0.5 to 4 (default 1; 1.005 sends 0.5 %% too often)\n"
                 "  --first-seq <n>    sequence of the first audio packet (default 1)\n"
                 "  --audio-seq-jump <n>[@<k>]  skip n sequence numbers once, before packet k\n"
                 "                     (counted from 0; default 50, one second at 20 ms)\n"
                 "  --audio-sequence-list <a,b,...>  one packet with each of these sequences,\n"
                 "                     in this order, then no more audio\n"
                 "The test tone steps once a second: 440 Hz, 550, 660 ... 1210, then 440 again.\n",
                 program);
}

int keyframe_interval(const SenderOptions& o) {
    if (o.gop > 0) return static_cast<int>(o.gop);
    return static_cast<int>(std::max(1L, std::lround(10.0 * o.fps)));
}

bool parse_sender_options(int argc, char** argv, SenderOptions& o) {
    if (argc < 2 || argv[1][0] == '-') {
        log_err("[Sender] Error: the first argument must be a mode\n");
        return false;
    }
    o.mode = argv[1];
    for (int i = 2; i < argc; ++i) {
        const char* name = argv[i];
        if (std::strcmp(name, "--verbose") == 0) {
            o.verbose = true;
            continue;
        }
        if (std::strcmp(name, "--quiet") == 0) {
            o.quiet = true;
            continue;
        }
        if (std::strcmp(name, "--burst") == 0) {
            o.burst = true;
            continue;
        }
        if (std::strcmp(name, "--audio") == 0) {
            o.audio = true;
            continue;
        }
        if (i + 1 >= argc) {
            log_err("[Sender] Error: %s needs a value\n", name);
            return false;
        }
        const char* value = argv[++i];
        long n = 0;
        bool ok = true;
        if (std::strcmp(name, "--port") == 0) {
            ok = parse_integer(value, 1, 65535, n);
            o.port = static_cast<uint16_t>(n);
        } else if (std::strcmp(name, "--host") == 0) {
            o.host = value;
            ok = is_dotted_ipv4(value);
        } else if (std::strcmp(name, "--width") == 0) {
            ok = parse_integer(value, 1, 16384, n);
            o.width = static_cast<int>(n);
        } else if (std::strcmp(name, "--height") == 0) {
            ok = parse_integer(value, 1, 16384, n);
            o.height = static_cast<int>(n);
        } else if (std::strcmp(name, "--fps") == 0) {
            ok = parse_number(value, o.fps) && o.fps > 0.0 && o.fps <= 1000.0;
        } else if (std::strcmp(name, "--frames") == 0) {
            ok = parse_integer(value, 1, 1L << 31, o.frames);
        } else if (std::strcmp(name, "--seconds") == 0) {
            ok = parse_number(value, o.seconds) && o.seconds > 0.0;
        } else if (std::strcmp(name, "--first-frame") == 0) {
            ok = parse_integer(value, 0, UINT32_MAX, n);
            o.first_frame = static_cast<uint32_t>(n);
        } else if (std::strcmp(name, "--drop") == 0) {
            ok = parse_rate(value, o.impairment.drop_rate);
        } else if (std::strcmp(name, "--dup") == 0) {
            ok = parse_rate(value, o.impairment.dup_rate);
        } else if (std::strcmp(name, "--reorder") == 0) {
            ok = parse_rate(value, o.impairment.reorder_rate);
        } else if (std::strcmp(name, "--reorder-depth") == 0) {
            ok = parse_integer(value, 1, 100000, n);
            o.impairment.reorder_depth = static_cast<int>(n);
        } else if (std::strcmp(name, "--reorder-ms") == 0) {
            ok = parse_integer(value, 1, 10000, n);
            o.impairment.reorder_ms = static_cast<int>(n);
        } else if (std::strcmp(name, "--garbage-every") == 0) {
            ok = parse_number(value, o.garbage_every) && o.garbage_every > 0.0;
        } else if (std::strcmp(name, "--garbage-burst") == 0) {
            ok = parse_integer(value, 1, 100000, n);
            o.garbage_burst = static_cast<int>(n);
        } else if (std::strcmp(name, "--event-log") == 0) {
            o.event_log = value;
            ok = !o.event_log.empty();
        } else if (std::strcmp(name, "--clip") == 0) {
            o.clip = value;
            ok = !o.clip.empty();
        } else if (std::strcmp(name, "--seed") == 0) {
            ok = parse_integer(value, 0, UINT32_MAX, n);
            o.impairment.seed = static_cast<uint32_t>(n);
        } else if (std::strcmp(name, "--codec") == 0) {
            ok = parse_codec(value, o.codec);
        } else if (std::strcmp(name, "--bitrate") == 0) {
            ok = parse_integer(value, 1000, 1'000'000'000, o.bitrate);
        } else if (std::strcmp(name, "--gop") == 0) {
            ok = parse_integer(value, 1, 1'000'000, o.gop);
        } else if (std::strcmp(name, "--input") == 0) {
            o.input = value;
            ok = !o.input.empty();
        } else if (std::strcmp(name, "--listen-port") == 0) {
            ok = parse_integer(value, 0, 65535, n);
            o.listen_port = static_cast<uint16_t>(n);
        } else if (std::strcmp(name, "--audio-bitrate") == 0) {
            // Opus's working range, 6 to 510 kbit/s
            ok = parse_integer(value, 6000, 510'000, o.audio_bitrate);
        } else if (std::strcmp(name, "--audio-packet-ms") == 0) {
            ok = parse_integer(value, 1, 1000, n) && is_audio_packet_ms(static_cast<int>(n));
            o.audio_packet_ms = static_cast<int>(n);
        } else if (std::strcmp(name, "--audio-gain") == 0) {
            ok = parse_number(value, o.audio_gain) && o.audio_gain >= 0.0 && o.audio_gain <= 100.0;
        } else if (std::strcmp(name, "--audio-drop") == 0) {
            ok = parse_rate(value, o.audio_drop);
        } else if (std::strcmp(name, "--audio-clock-rate") == 0) {
            ok = parse_number(value, o.audio_clock_rate) && o.audio_clock_rate >= 0.5 &&
                 o.audio_clock_rate <= 4.0;
        } else if (std::strcmp(name, "--first-seq") == 0) {
            ok = parse_integer(value, 0, UINT32_MAX, n);
            o.audio_sequence.first = static_cast<uint32_t>(n);
        } else if (std::strcmp(name, "--audio-seq-jump") == 0) {
            ok = parse_sequence_jump(value, o.audio_sequence);
        } else if (std::strcmp(name, "--audio-sequence-list") == 0) {
            std::optional<std::vector<uint32_t>> list = parse_sequence_list(value);
            ok = list.has_value();
            if (ok) o.audio_sequence.list = std::move(*list);
        } else if (std::strcmp(name, "--kind") == 0) {
            o.kind = value;
        } else if (std::strcmp(name, "--count") == 0) {
            ok = parse_integer(value, 1, 1L << 31, o.count);
        } else if (std::strcmp(name, "--rate") == 0) {
            ok = parse_number(value, o.rate) && o.rate > 0.0 && o.rate <= 1e6;
        } else {
            log_err("[Sender] Error: unknown option %s\n", name);
            return false;
        }
        if (!ok) {
            log_err("[Sender] Error: bad value for %s: %s\n", name, value);
            return false;
        }
    }
    if (o.port == 0) {
        log_err("[Sender] Error: --port is required\n");
        return false;
    }
    if (o.mode == "audio") o.audio = true;
    return true;
}

}  // namespace talvek::tools
