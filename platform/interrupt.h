#pragma once
// The user's ctrl-c, delivered where ordinary code may run.
//
// A signal handler may do almost nothing safely: printing, closing a port or calling exit()
// from inside one can deadlock on a lock the interrupted code holds. So the handler only
// wakes a thread of the program's own, and the action runs there.

namespace platform {

// Runs `action` once per ctrl-c, on a thread other than the one the signal interrupted
// (Windows delivers console ctrl-c on a thread of its own already). A request to terminate
// (SIGTERM, a hung-up terminal's SIGHUP; ctrl-break on Windows) counts as a ctrl-c: a plugin
// run without a console is ended that way. A later call replaces the action; nullptr ignores
// them until the next call.
void watchInterrupt(void (*action)());

// Ends the process at once with `code`: standard output and error are flushed and the console
// is put back as the driver had it, but no exit handlers or destructors run, because the other
// threads are still running the program.
[[noreturn]] void exitNow(int code);

}  // namespace platform
