#include "support/file_owner.hpp"

namespace lumirex {

// Windows has no root that makes files another user cannot write: a file
// takes the access list its folder passes on, whoever makes it.
void TakeFolderOwner(const std::string&, int) noexcept {}

}  // namespace lumirex
