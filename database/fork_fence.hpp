// Database work in progress, which a fork waits for. SQLite keeps one lock
// per open file for the whole process, shared by every connection to that
// file, and ODBC's driver managers and drivers keep process-wide locks of
// their own: a child forked while another thread held one would wait for it
// for ever the first time it touched the same file or driver. So each piece
// of database work holds the fence open, and a fork's prepare step closes
// it: the fork waits for the work in progress to end (each piece within its
// time-out) and holds new work back until it is done.
#pragma once

namespace lumirex {

class DatabaseWork {
 public:
  DatabaseWork() noexcept;
  ~DatabaseWork();
  DatabaseWork(const DatabaseWork&) = delete;
  DatabaseWork& operator=(const DatabaseWork&) = delete;
};

}  // namespace lumirex
