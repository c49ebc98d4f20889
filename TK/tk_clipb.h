// Putting text on the clipboard. The toolkit has no window system of its own:
// a program with one installs a writer; without it the text goes nowhere.
#pragma once
#include <functional>
#include <string>

// Answers whether the text was put on the clipboard.
using tk_clipboard_writer = std::function<bool(const std::wstring&)>;

// Installs the writer (an empty one removes it). Call on the thread that
// owns the clipboard, before any copy.
void tk_set_clipboard_writer(tk_clipboard_writer writer);

// Puts the text on the clipboard as Unicode text; failures are logged only.
void tk_copy_to_clipboard2(const std::wstring& text);
