#pragma once
// The decode thread's observer points as plain functions, for fixtures that
// set them before the receiver is brought up:
//
//   DecodeHooks hooks;                       // declared before the receiver
//   VideoReceiver receiver{{.decode_observer = hooks.observer()}};
//   hooks.before_wait = [] { ... };
//
// Every function runs on the decode thread; an empty one does nothing.

#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

#include "decode_observer.h"

namespace talvek::testing {

class DecodeHooks {
public:
    using Batch = std::vector<client::EncodedFrame>;

    DecodeHooks() = default;
    DecodeHooks(const DecodeHooks&) = delete;
    DecodeHooks& operator=(const DecodeHooks&) = delete;

    client::DecodeObserver* observer() { return &adapter; }

    std::function<void()> before_wait;
    std::function<void(const Batch&)> on_batch;
    std::function<void(size_t index)> after_frame;
    std::function<void(bool handed_over)> after_batch;
    std::function<void()> on_exit;

private:
    class Adapter : public client::DecodeObserver {
    public:
        explicit Adapter(DecodeHooks& owner) : hooks(owner) {}
        void before_wait() override { call(hooks.before_wait); }
        void on_batch(const Batch& batch) override { call(hooks.on_batch, batch); }
        void after_frame(size_t index) override { call(hooks.after_frame, index); }
        void after_batch(bool handed_over) override { call(hooks.after_batch, handed_over); }
        void on_exit() override { call(hooks.on_exit); }

    private:
        template <typename F, typename... Args>
        static void call(const F& f, Args&&... args) {
            if (f) f(std::forward<Args>(args)...);
        }
        DecodeHooks& hooks;
    };
    Adapter adapter{*this};
};

}  // namespace talvek::testing
