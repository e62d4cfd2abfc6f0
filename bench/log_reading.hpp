// Peak memory of `lumirex log` over a day's log that holds one huge answer
// among ordinary calls: the reader must need a small multiple of its largest
// call block, never of the file.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace lumirex::bench {

struct LogReadingPeak {
  std::size_t answerBytes = 0;  // the RETORNO of the one large call
  std::size_t blockBytes = 0;   // that call's block in the log
  std::size_t fileBytes = 0;    // the whole log
  long tableKiB = 0;            // peak resident set of `lumirex log --file`
  long jsonKiB = 0;             // the same with --json
  long idleKiB = 0;             // `lumirex log` over a log of the small calls alone
  std::string error;            // why there are no figures
};

// The peak resident set of the command, in KiB, with its output thrown
// away; raises when it fails (with any exit status when `anyStatus`).
long PeakOfCommand(const std::vector<std::string>& args, bool anyStatus);

// Writes the log to a temporary folder and runs the command on it three times.
LogReadingPeak MeasureLogReading(std::size_t answerBytes);

}  // namespace lumirex::bench
