// A query's statement kept prepared on the session it was prepared on, with
// the values it is bound to.
#pragma once

#include <soci/soci.h>

#include <cstddef>
#include <string>
#include <vector>

namespace lumirex {

struct PreparedStatement {
  explicit PreparedStatement(soci::session& session, std::string statementText)
      : text(std::move(statementText)), statement(session) {}

  std::string text;
  // For each bound value, the index of the query parameter it holds.
  std::vector<std::size_t> parameters;
  // SOCI holds references to these and reads them at every execution, so
  // they are sized once, before binding, and only ever assigned to. Declared
  // before the statement, which goes first.
  std::vector<std::string> values;
  std::vector<soci::indicator> indicators;
  soci::statement statement;
};

}  // namespace lumirex
