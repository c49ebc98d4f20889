// The pages' server calls (connecting, listing databases and tables, testing
// a query) run off the GUI thread: the window keeps painting, a busy cursor
// shows, Cancel cuts the call, and a call that gets no answer within its time
// limit is cut and reported.
#pragma once
#include <functional>

#include <QList>

class QWidget;

// The time limit of a page's server call, in milliseconds (reading; a
// connect also has the client library's own limit of 10 s for the server's
// greeting). Tests may lower it.
extern int kvr_server_call_limit_ms;

// Runs call on a worker thread. blocked: the widgets that take no input
// meanwhile (the page, a dialog's controls); the frame's Back, Next and Help
// are blocked too. connects: the call opens a new connection (no socket is
// known before). True when the call ended by itself (its exception reaches
// the caller); false when Cancel or the time limit cut it; the time limit
// also shows "the server does not answer". A cut connection is opened again
// by the next call that needs it.
bool kvr_server_call(const std::function<void()>& call, const QList<QWidget*>& blocked, bool connects = false);
