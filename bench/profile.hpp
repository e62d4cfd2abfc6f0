// --profile: one kind of work run `calls` times inside RunProfile, after one
// run outside it (the data module made, the statements prepared, the
// connection open), so that callgrind (--toggle-collect='*RunProfile*')
// counts the steady calls alone, and strace can count their system calls by
// the difference between two numbers of calls.
//
//   consulta:<promocodes>:<calls>  the customer query through the C ABI
//   venda:<calls>                  the twenty-item sale report through the C ABI
//   raw-get:<promocodes>:<calls>   the bare libcurl GET of the same answer
//   raw-post:<calls>               the bare libcurl POST of the same body
//   parse:<promocodes>:<calls>     the bare pugixml parse of the same answer
//   queries:<calls>                the two sale queries run bare in SQLite
#pragma once

#include <string>
#include <vector>

namespace lumirex::bench {

// Raises std::runtime_error for a malformed description or a failed run.
// Without a base folder, the library finds its folder as a host's would.
void ProfileWork(const std::string& description, bool baseDir);

}  // namespace lumirex::bench
