// The reason phrases of HTTP statuses, for messages that name a status.
#pragma once

namespace lumirex {

// "Bad Gateway" for 502; "" for a status without a registered phrase.
const char* ReasonPhrase(int status);

}  // namespace lumirex
