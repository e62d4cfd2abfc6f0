#include "log_reading.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "temp_folder.hpp"

namespace lumirex::bench {

namespace {

constexpr int kSmallCalls = 2000;
constexpr std::size_t kChunk = 1 << 20;

void SmallCall(std::ofstream& out, int number) {
  const std::string stamp = "09/12/2026 10:00:00 - ";
  out << stamp << std::string(50, '-') << "\r\n"
      << stamp << "INICIO\r\n"
      << stamp << "P_OPERACAO   = CONSULTA\r\n"
      << stamp << "P_CPF        = " << 10000000000 + number << "\r\n"
      << stamp << "RETORNO      = <r><success>true</success><message>ok</message></r>\r\n"
      << stamp << "FIM\r\n";
}

// The log: small calls, one call whose answer is `answerBytes` long, small
// calls again. Returns the large block's size.
std::size_t WriteLog(const std::string& path, std::size_t answerBytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (int i = 0; i < kSmallCalls; ++i) SmallCall(out, i);
  const auto start = out.tellp();
  const std::string stamp = "09/12/2026 10:00:01 - ";
  out << stamp << std::string(50, '-') << "\r\n"
      << stamp << "INICIO\r\n"
      << stamp << "P_OPERACAO   = CONSULTA\r\n"
      << stamp << "RETORNO      = <r><success>false</success><message>";
  const std::string chunk(kChunk, 'x');
  const std::size_t filler = answerBytes > 64 ? answerBytes - 64 : 0;
  for (std::size_t written = 0; written < filler; written += kChunk) {
    out.write(chunk.data(), static_cast<std::streamsize>(std::min(kChunk, filler - written)));
  }
  out << "</message></r>\r\n" << stamp << "FIM\r\n";
  const auto block = static_cast<std::size_t>(out.tellp() - start);
  for (int i = 0; i < kSmallCalls; ++i) SmallCall(out, i);
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
  return block;
}

}  // namespace

long PeakOfCommand(const std::vector<std::string>& args, bool anyStatus) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const pid_t child = ::fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  if (::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
      (!anyStatus && WEXITSTATUS(status) != 0)) {
    throw std::runtime_error(args[0] + " " + args[1] + " failed");
  }
  return usage.ru_maxrss;
}

LogReadingPeak MeasureLogReading(std::size_t answerBytes) {
  LogReadingPeak peak;
  peak.answerBytes = answerBytes;
  try {
    TempFolder folder;
    const std::string small = (folder.path() / "small.txt").string();
    const std::string large = (folder.path() / "large.txt").string();
    WriteLog(small, 0);
    peak.blockBytes = WriteLog(large, answerBytes);
    peak.fileBytes = std::filesystem::file_size(large);
    peak.idleKiB = PeakOfCommand({LUMIREX_CLI, "log", "--file", small}, false);
    peak.tableKiB = PeakOfCommand({LUMIREX_CLI, "log", "--file", large}, false);
    peak.jsonKiB = PeakOfCommand({LUMIREX_CLI, "log", "--file", large, "--json"}, false);
  } catch (const std::exception& error) {
    peak.error = error.what();
  }
  return peak;
}

}  // namespace lumirex::bench
