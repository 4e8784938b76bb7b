#pragma once
// When the audio bar shows: for 5 seconds after start-up, then for 2 seconds
// after each pointer movement or audio key, and all through a volume drag.
// Times are SDL_GetTicks milliseconds, passed in so tests can move the clock.

#include <cstdint>

// The start-up stamp lies this far ahead, so the first hide comes after
// 3000 + 2000 ms without input.
inline constexpr uint32_t OVERLAY_STARTUP_EXTRA_MS = 3000;
inline constexpr int32_t OVERLAY_HIDE_AFTER_MS = 2000;

struct OverlayVisibility {
    bool visible = false;
    uint32_t last_activity = 0;
};

void start_display_period(OverlayVisibility& overlay, uint32_t now);
void note_activity(OverlayVisibility& overlay, uint32_t now);

// Hides the strip once more than 2000 ms have passed since the last activity,
// unless a volume drag holds it. The difference is taken as signed 32 bits:
// an activity stamp still ahead has not elapsed, and the tick counter's wrap
// after 49.7 days does not matter.
void auto_hide(OverlayVisibility& overlay, bool volume_dragging, uint32_t now);
