// A file that readers see either whole as it was or whole as it is now: the
// text is written to a temporary file beside it, flushed to disk, and renamed
// over it. What collects it (an exporter reading a folder) never reads half.
#pragma once

#include <string>
#include <string_view>

namespace lumirex::cli {

// Writes `content` as `folder`/`name`, readable by every user (an exporter
// runs as its own), replacing the file there. The temporary file's name
// starts with a dot and does not end as `name` does, so a collector reading
// "*.prom" passes it by. Raises std::runtime_error naming the file and why.
void ReplaceFile(const std::string& folder, const std::string& name, std::string_view content);

}  // namespace lumirex::cli
