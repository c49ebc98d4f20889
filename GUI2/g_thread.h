// Running window code on the GUI thread. Widgets, dialogs, timers and the
// clipboard belong to the GUI thread; another thread asks it and waits.
#pragma once
#include <functional>

// True on the thread of the application object (or when there is none).
bool gui_on_gui_thread();

// Runs fn on the GUI thread and waits for it. On the GUI thread (or without
// an application object) fn runs at once. An exception of fn reaches the
// caller. False when fn did not run: cross-thread calls are stopped (see
// below), or the application object went away before fn ran.
bool gui_invoke(const std::function<void()>& fn);

// Shutting down: every call waiting in gui_invoke returns false at once and
// later calls from other threads return false without waiting. Call on the
// GUI thread before waiting for a worker that may be asking for a dialog.
void gui_stop_cross_thread_calls();
// Allows cross-thread calls again.
void gui_allow_cross_thread_calls();
bool gui_cross_thread_calls_stopped();
// How many threads wait in gui_invoke now.
int gui_waiting_calls();
