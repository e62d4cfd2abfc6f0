#include <windows.h>

#include "cli/stop_request.hpp"

namespace lumirex::cli {

namespace {

// Set by the console's control handler, which Windows runs on a thread of
// its own; manual reset, so a second Ctrl+C finds it set.
HANDLE StopEvent() {
  static const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return event;
}

BOOL WINAPI OnControl(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      SetEvent(StopEvent());
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

StopRequest::StopRequest() {
  StopEvent();
  SetConsoleCtrlHandler(OnControl, TRUE);
}

void StopRequest::Wait() {
  WaitForSingleObject(StopEvent(), INFINITE);
}

}  // namespace lumirex::cli
