#include "overlay_visibility.h"

void start_display_period(OverlayVisibility& overlay, uint32_t now) {
    overlay.visible = true;
    overlay.last_activity = now + OVERLAY_STARTUP_EXTRA_MS;  // wraps like the ticks do
}

void note_activity(OverlayVisibility& overlay, uint32_t now) {
    overlay.visible = true;
    overlay.last_activity = now;
}

void auto_hide(OverlayVisibility& overlay, bool volume_dragging, uint32_t now) {
    if (!overlay.visible || volume_dragging) return;
    const auto elapsed = static_cast<int32_t>(now - overlay.last_activity);
    if (elapsed > OVERLAY_HIDE_AFTER_MS) overlay.visible = false;
}
