// The outbox file before SQLite opens it: the part that differs between
// Linux and Windows.
#pragma once

#include <string>

#include "outbox/outbox_error.hpp"

namespace lumirex::outbox {

[[noreturn]] inline void RefuseFile(const std::string& path, const std::string& why) {
  throw OutboxError("the outbox '" + path + "' cannot be used: " + why);
}

// A link or anything but a regular file at `path` is someone else's, as for
// the log (OutboxError); a missing one is made when `create` says so, never
// through a link, and only the till's own user may read it: reports hold
// customers' CPFs. Whether this call made the file.
bool MakeOrCheckFile(const std::string& path, bool create);

// Takes group and other users' access away from the file and its -wal and
// -shm companions, which an earlier version left as the umask made them.
// What cannot be changed (another user's file) is left as it is.
void KeepPrivate(const std::string& path);

// The name SQLite opens `path` (a host text) by.
std::string SqliteFileName(const std::string& path);

}  // namespace lumirex::outbox
