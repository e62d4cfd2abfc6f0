#include "cli/result_text.hpp"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "cli/display_text.hpp"
#include "dataset/data_packet.hpp"
#include "support/errors.hpp"

namespace lumirex::cli {

namespace {

using Cells = std::vector<std::string>;

std::string ElementText(const Variant& element) {
  return element.type() == Variant::Type::String ? element.asString() : std::string();
}

// The promocode rows as table cells; the packet's columns are looked up by
// name, so a column order of another build still reads right.
std::vector<Cells> PromocodeRows(const DataPacket& packet, char separator) {
  static constexpr std::array<const char*, 5> kColumns{"CDPROMOCAO", "DSTIPPROMO", "VRPROMOCAO",
                                                       "DTVALPROMO", "DSPROMOCAO"};
  std::vector<Cells> rows;
  for (const auto& row : packet.rows) {
    Cells cells(kColumns.size());
    for (std::size_t c = 0; c < kColumns.size(); ++c) {
      for (std::size_t f = 0; f < packet.fields.size() && f < row.size(); ++f) {
        if (packet.fields[f].name != kColumns[c]) continue;
        const FieldValue& value = row[f];
        if (const auto* text = std::get_if<std::string>(&value)) {
          cells[c] = FromServiceBytes(*text);
        } else if (const auto* number = std::get_if<double>(&value)) {
          cells[c] = c == 2 ? FormatAmount(*number, separator) : FormatDateTime(*number);
        }
      }
    }
    rows.push_back(std::move(cells));
  }
  return rows;
}

void PrintTable(std::ostream& out, const Cells& header, const std::vector<Cells>& rows) {
  std::vector<std::size_t> widths(header.size());
  for (std::size_t c = 0; c < header.size(); ++c) {
    widths[c] = DisplayWidth(header[c]);
    for (const Cells& row : rows) widths[c] = std::max(widths[c], DisplayWidth(row[c]));
  }
  auto printRow = [&](const Cells& cells) {
    out << "   ";
    for (std::size_t c = 0; c < cells.size(); ++c) {
      bool last = c + 1 == cells.size();
      out << ' ' << (last ? cells[c] : PadRight(cells[c], widths[c]));
    }
    out << '\n';
  };
  printRow(header);
  for (const Cells& row : rows) printRow(row);
}

void PrintPromocodes(std::ostream& out, const Variant& element, char separator) {
  DataPacket packet;
  try {
    packet = ReadDataPacket(ElementText(element));
  } catch (const ConversionError& error) {
    out << "  Promocodes: unreadable (" << error.what() << ")\n";
    return;
  }
  if (packet.rows.empty()) {
    out << "  Promocodes: none\n";
    return;
  }
  out << "  Promocodes:\n";
  PrintTable(out, {"Code", "Type", "Value", "Expires", "Description"},
             PromocodeRows(packet, separator));
}

void PrintCustomer(std::ostream& out, const std::vector<Variant>& items, char separator) {
  out << "  Customer:   " << FromServiceBytes(ElementText(items[2])) << '\n';
  double balance = items[3].type() == Variant::Type::Double ? items[3].asDouble() : 0;
  out << "  Balance:    " << FormatAmount(balance, separator) << '\n';
  PrintPromocodes(out, items[4], separator);
}

}  // namespace

const char* OutcomeWords(const CallRun& outcome) {
  if (!outcome.returned) return "call failed";
  return Accepted(outcome) ? "service accepted" : "service declined";
}

void PrintOutcome(std::ostream& out, const CallRun& outcome, char separator, bool showLog) {
  out << FromAnsi(outcome.operation) << ": " << OutcomeWords(outcome) << '\n';
  const auto& items = outcome.result.items();
  if (outcome.returned) {
    out << "  Message:    " << FromAnsi(ElementText(items[1])) << '\n';
    if (Accepted(outcome) && outcome.operation == "CONSULTA") PrintCustomer(out, items, separator);
  }
  for (const std::string& message : outcome.messages) {
    out << "  Operator:   " << FromAnsi(message) << '\n';
  }
  if (showLog) out << "  Log:        " << outcome.logFile << '\n';
}

}  // namespace lumirex::cli
