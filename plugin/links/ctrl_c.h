#pragma once
// The plugin's ctrl-c handler. The pit-board link installs it when it starts (together with
// the high priority and the 1 ms timer); on ctrl-c (or a request to terminate: SIGTERM,
// SIGHUP) it prints "Recieved ctrl-c, Exiting", runs the frame's cleanup (the serial port, the
// local block's name), ends the 1 ms timer, puts SIGINT back to its default and ends the
// process with code 0. It writes no log line and leaves the audio engine alone.

namespace links {

// What the handler closes before the process ends; the frame registers the serial pit
// board's close and the removal of the local block's name here before the link starts.
void setCtrlCCleanup(void (*cleanup)());

void InstallCtrlCHandler();

}  // namespace links
