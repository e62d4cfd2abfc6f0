// What an answer will cost before it is read: the service's answer may be as
// large as the HTTP client's cap, and its smallest markup costs many times its
// bytes once it is a document tree and rows.
#pragma once

#include <cstddef>
#include <string_view>

namespace lumirex {

// At most this many nodes (elements, texts and attributes) are made of an
// answer: some 64 MiB of tree. A customer's answer of 70 000 promocodes makes
// 840 000.
inline constexpr std::size_t kMaxAnswerNodes = 1'000'000;

// At most this many promocodes of a customer's answer become rows.
inline constexpr std::size_t kMaxPromocodes = 100'000;

// The number of nodes the parser makes of xml, counted without parsing it:
// never fewer than it makes of a well-formed document (a DOCTYPE's insides are
// counted as if they were content, which the parser makes nothing of).
std::size_t NodesOf(std::string_view xml);

// Raises ConversionError naming kMaxAnswerNodes when xml makes more nodes.
void RequireFewNodes(std::string_view xml);

// Raises ConversionError naming kMaxPromocodes when count is over it.
void RequireFewPromocodes(std::size_t count);

}  // namespace lumirex
