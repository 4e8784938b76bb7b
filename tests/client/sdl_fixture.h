#pragma once
// SDL video with the dummy driver: windows without a display, drawn by the
// software renderer, whose pixels can be read back. The receiver under test
// is destroyed before SDL shuts down, as its owner must do.

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

#include "log_text.h"
#include "video_receiver.h"

namespace client_test {

class SdlTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        receiver = std::make_unique<talvek::client::VideoReceiver>();
    }

    void TearDown() override {
        testing::internal::CaptureStdout();
        receiver.reset();
        testing::internal::GetCapturedStdout();
        SDL_Quit();
    }

    // Brings the receiver up with its stdout captured into `out`.
    bool init_quietly(int width, int height, std::string* out = nullptr) {
        testing::internal::CaptureStdout();
        const bool ok = receiver->init_for_udp(width, height, talvek::VideoCodec::VP8);
        const std::string text = testing::internal::GetCapturedStdout();
        if (out) *out = text;
        return ok;
    }

    // A receiver with seams of the test's own in place of the fixture's.
    void use_receiver(talvek::client::VideoReceiver::Seams seams) {
        testing::internal::CaptureStdout();
        receiver = std::make_unique<talvek::client::VideoReceiver>(std::move(seams));
        testing::internal::GetCapturedStdout();
    }

    std::string stop_logged() {
        testing::internal::CaptureStdout();
        receiver->stop();
        return testing::internal::GetCapturedStdout();
    }

    std::unique_ptr<talvek::client::VideoReceiver> receiver;
};

}  // namespace client_test
