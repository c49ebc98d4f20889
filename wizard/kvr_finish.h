// The wizard's finish page: the result of the run and "&Save Settings...",
// which writes the converter's settings as a profile (extension "kvr").
#pragma once
#include "g_finish.h"
#include "kvr_conv.h"

inline constexpr uint32_t kvr_finish_page_id = 116;

using kvr_finish_page = gui_finish_page_t<kellvar_converter, kvr_finish_page_id>;
