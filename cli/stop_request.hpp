// A server run from the console waits for the user's request to stop:
// SIGINT or SIGTERM on Linux; Ctrl+C, Ctrl+Break or the console's closing on
// Windows. One source file per system.
#pragma once

namespace lumirex::cli {

class StopRequest {
 public:
  // Made before the server starts its threads: from here on a request to
  // stop is held for Wait, and ends no thread.
  StopRequest();
  StopRequest(const StopRequest&) = delete;
  StopRequest& operator=(const StopRequest&) = delete;

  // Returns once the request has come.
  void Wait();
};

}  // namespace lumirex::cli
