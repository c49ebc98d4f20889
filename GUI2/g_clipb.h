// The clipboard of the window system for the toolkit's copy function.
#pragma once

// Installs the Qt clipboard as the toolkit's clipboard writer. Call once at
// start-up, on the GUI thread, after the application object exists.
void gui_install_clipboard_writer();
