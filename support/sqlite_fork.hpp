// SQLite across fork(): its process-wide mutexes (the allocator's, the open
// files' list, the random generator's) may be held by another thread at the
// moment of a fork, and the child's first allocation through SQLite would
// then wait for good. Once this is called, fork() waits until no thread holds
// them, and the child starts with them free.
#pragma once

namespace lumirex {

// Called before the library's first use of SQLite; calling it again costs
// nothing.
void KeepSqliteWholeAcrossFork() noexcept;

}  // namespace lumirex
