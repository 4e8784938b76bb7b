#pragma once
// Points on the decode thread where a test or a benchmark can watch it or
// hold it. Each call is made on the decode thread; the receiver makes none
// without an observer.

#include <cstddef>
#include <vector>

#include "fragment_table.h"

namespace talvek::client {

class DecodeObserver {
public:
    virtual ~DecodeObserver() = default;

    // Top of every pass, before the queue is looked at.
    virtual void before_wait() {}
    // A batch was just taken from the queue.
    virtual void on_batch(const std::vector<EncodedFrame>& /*batch*/) {}
    // Frame `index` of the batch went through the decoder.
    virtual void after_frame(size_t /*index*/) {}
    // The batch is done; a picture was handed over or not.
    virtual void after_batch(bool /*handed_over*/) {}
    // The last act before the thread returns.
    virtual void on_exit() {}
};

}  // namespace talvek::client
