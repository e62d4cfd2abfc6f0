// The shape of the integration log's lines, shared by the library that writes
// them and the tools that read them back (`lumirex log`): a line is the time
// stamp (DateTimeToStr), kStampSeparator, then a label and its text.
#pragma once

#include <string_view>

namespace lumirex::log_format {

inline constexpr std::string_view kStampSeparator = " - ";
inline constexpr std::string_view kSeparatorLine =
    "--------------------------------------------------";
inline constexpr std::string_view kStart = "INICIO";
inline constexpr std::string_view kEnd = "FIM";
inline constexpr std::string_view kFailureLabel = "Exception IntegracaoLumirex: ";

// The labels of a call's lines, padded to one width.
inline constexpr std::string_view kOperation = "P_OPERACAO   = ";
inline constexpr std::string_view kCpf = "P_CPF        = ";
inline constexpr std::string_view kBranch = "P_CDFILIAL   = ";
inline constexpr std::string_view kTill = "P_CDCAIXA    = ";
inline constexpr std::string_view kSequence = "P_NRSEQVENDA = ";
inline constexpr std::string_view kPromocode = "P_PROMOCODE  = ";
inline constexpr std::string_view kUrl = "P_URL        = ";
inline constexpr std::string_view kDocument = "P_XML        = ";
inline constexpr std::string_view kTimeout = "P_TIMEOUT    = ";
inline constexpr std::string_view kOutbox = "P_OUTBOX     = ";
inline constexpr std::string_view kAnswer = "RETORNO      = ";

}  // namespace lumirex::log_format
