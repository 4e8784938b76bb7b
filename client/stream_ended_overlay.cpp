#include "stream_ended_overlay.h"

#include <algorithm>

namespace talvek::client {

StreamEndedOverlayLayout stream_ended_overlay_layout(int output_width, int output_height) {
    StreamEndedOverlayLayout layout;
    layout.shade = {0, 0, output_width, output_height};

    const int box_w = std::min(output_width - OVERLAY_BOX_MARGIN, OVERLAY_BOX_MAX_WIDTH);
    const int box_x = (output_width - box_w) / 2;
    const int box_y = (output_height - OVERLAY_BOX_HEIGHT) / 2;
    for (int i = 0; i < 3; ++i) {
        layout.frame[static_cast<size_t>(i)] = {box_x - i, box_y - i, box_w + 2 * i,
                                                OVERLAY_BOX_HEIGHT + 2 * i};
    }
    layout.square = {(output_width - OVERLAY_SQUARE_SIZE) / 2,
                     (output_height - OVERLAY_SQUARE_SIZE) / 2, OVERLAY_SQUARE_SIZE,
                     OVERLAY_SQUARE_SIZE};
    return layout;
}

}  // namespace talvek::client
