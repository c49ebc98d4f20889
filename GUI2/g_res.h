// The wizard's pictures, compiled in as Qt resources under their resource ids.
#pragma once
#include <cstdint>

#include <QPixmap>

inline constexpr uint32_t gui_icon_id = 501;
inline constexpr uint32_t gui_watermark_id = 311;
inline constexpr uint32_t gui_header_id = 312;

// The picture of that id; a null pixmap for 0 or an unknown id.
QPixmap gui_picture(uint32_t id);
