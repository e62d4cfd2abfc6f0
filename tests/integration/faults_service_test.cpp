// Faults of the loyalty service, each through the C ABI: what the call
// returns, where its log says it failed, and that the call after the fault
// clears succeeds.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>

#include "end_to_end.hpp"
#include "memory_probe.hpp"

using lumirex::Variant;
using lumirex::sandbox::Faults;
using ::testing::HasSubstr;
using namespace std::string_literals;

namespace calltest {
namespace {

class ServiceFaults : public EndToEnd {
 protected:
  // The two ways an answer is read: the customer's and every other operation's.
  std::vector<std::vector<std::string>> BothReaders() const { return {Consulta(), Validation()}; }

  void ExpectClearedAfter() {
    sandbox_.SetFaults({});
    for (const auto& params : BothReaders()) ExpectAccepted(params);
  }
};

TEST_F(ServiceFaults, RefusedConnectionFailsAtTheExchange) {
  lumirex::sandbox::Sandbox gone;
  gone.Start();
  const std::string url = gone.BaseUrl();
  gone.Stop();
  auto params = Consulta();
  params[1] = url;
  const Outcome outcome = Call(params);
  ExpectFailure(outcome, kTimeoutLine, "HTTP request to " + url + "user?cpf=");
  EXPECT_EQ(outcome.last.error, LUMIREX_E_CONNECT);
  EXPECT_EQ(outcome.last.sent, 0);
  EXPECT_THAT(LogTexts().back(), HasSubstr("onnect"));
  ExpectClearedAfter();
}

// A password in the service's URL goes with the request, but neither the log
// nor the operator sees it: not in P_URL, not in the failure that names the URL.
TEST_F(ServiceFaults, PasswordOfTheUrlIsMaskedWhereverShown) {
  const auto withPassword = [](std::string url) { return url.insert(7, "till:secret@"); };
  lumirex::sandbox::Sandbox gone;
  gone.Start();
  const std::string goneUrl = withPassword(gone.BaseUrl());
  gone.Stop();
  for (const std::string& url : {withPassword(sandbox_.BaseUrl()), goneUrl}) {
    SCOPED_TRACE(url);
    auto params = Consulta();
    params[1] = url;
    Call(params);
    std::vector<std::string> shown = LogTexts();
    shown.insert(shown.end(), services_->messages.begin(), services_->messages.end());
    EXPECT_THAT(shown, ::testing::Contains(HasSubstr("P_URL        = http://till:***@")));
    for (const std::string& text : shown) EXPECT_THAT(text, ::testing::Not(HasSubstr("secret")));
  }
  EXPECT_THAT(services_->messages, ::testing::ElementsAre(HasSubstr("till:***@127.0.0.1")));
}

TEST_F(ServiceFaults, AnswersThatBreakOffFailAtTheExchange) {
  struct Case {
    const char* name;
    Faults faults;
    const char* reason;  // libcurl's words
  };
  Faults closed;
  closed.closeWithoutAnswer = true;
  Faults cut;
  cut.closeAfterBytes = 40;
  Faults cutChunked = cut;
  cutChunked.chunked = true;
  for (const Case& c : {Case{"closed without an answer", closed, "Empty reply from server"},
                        Case{"closed mid-answer", cut, "bytes remaining to read"},
                        Case{"closed mid-chunk", cutChunked, "transfer closed"}}) {
    SCOPED_TRACE(c.name);
    sandbox_.SetFaults(c.faults);
    for (const auto& params : BothReaders()) {
      ExpectFailure(Call(params), kTimeoutLine, c.reason);
    }
    ExpectClearedAfter();
  }
}

TEST_F(ServiceFaults, SilentServerIsGivenUpAtTheTimeOut) {
  Faults faults;
  faults.stallSeconds = 60;
  sandbox_.SetFaults(faults);
  const auto start = std::chrono::steady_clock::now();
  const Outcome outcome = Call(Consulta());
  const auto took = std::chrono::steady_clock::now() - start;
  ExpectFailure(outcome, kTimeoutLine, "timed out");
  EXPECT_EQ(outcome.last.error, LUMIREX_E_TIMEOUT);
  EXPECT_EQ(outcome.last.sent, 1);
  // The call's whole time-out is ten seconds; a second more is the most it may overrun.
  EXPECT_LT(took, std::chrono::seconds(11));
  ExpectClearedAfter();
}

TEST_F(ServiceFaults, AnswerTricklingInUnderTheTimeOutIsRead) {
  Faults faults;
  faults.trickleMilliseconds = 1500;
  sandbox_.SetFaults(faults);
  const auto start = std::chrono::steady_clock::now();
  const Outcome outcome = Call(Consulta());
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_TRUE(outcome.returned);
  EXPECT_EQ(outcome.result.items()[0], Variant(false));
  // The name in the default host's encoding, Windows-1252.
  EXPECT_EQ(outcome.result.items()[2], Variant("Jo\xE3o da Silva"));
  EXPECT_EQ(LogTexts().back(), "FIM");
}

TEST_F(ServiceFaults, HundredMiBAnswerIsRefusedAtTheCapWithoutHoldingIt) {
  for (const bool chunked : {false, true}) {
    SCOPED_TRACE(chunked ? "length not announced" : "length announced");
    Faults faults;
    faults.answerMiB = 100;
    faults.chunked = chunked;
    sandbox_.SetFaults(faults);
    if (!ResetPeakResident()) GTEST_SKIP() << "the kernel does not let the peak be reset";
    const long before = StatusKiB("VmRSS");
    const Outcome outcome = Call(Consulta());
    const long growth = StatusKiB("VmHWM") - before;
    ExpectFailure(outcome, kTimeoutLine, "larger than 16 MiB");
    // The 16 MiB kept up to the cap and the smaller buffers it grew from; far
    // less than the answer, which is never held whole.
    if (kPeakShowsWhatTheCallHeld) {
      EXPECT_LT(growth, 50 * 1024) << "peak grew by " << growth << " KiB";
    }
    ExpectClearedAfter();
  }
}

// Answers under the size cap whose every few bytes would become a node of the
// tree or a row of the packet: refused before they are built, naming the
// limit, the peak far below what building them took (over 700 MB).
TEST_F(ServiceFaults, AnswersThatWouldAmplifyAreRefusedBeforeTheyAreBuilt) {
  const auto emptyPromocodes = [](std::size_t count) {
    std::string answer = "<r><success>true</success><message>ok</message><userInfo><promocodes>";
    answer.reserve(answer.size() + count * 12 + 32);
    for (std::size_t i = 0; i < count; ++i) answer += "<promocode/>";
    return answer + "</promocodes></userInfo></r>";
  };
  struct Case {
    std::size_t promocodes;
    std::string reason;
  };
  for (const Case& c :
       {Case{1'398'000, "elements, texts and attributes; the library reads at most 1000000"},
        Case{100'001, "holds 100001 promocodes; the library reads at most 100000"}}) {
    SCOPED_TRACE(c.promocodes);
    Faults faults;
    faults.rawAnswer = emptyPromocodes(c.promocodes);
    ASSERT_LT(faults.rawAnswer.size(), 16u << 20);
    sandbox_.SetFaults(faults);
    if (!ResetPeakResident()) GTEST_SKIP() << "the kernel does not let the peak be reset";
    const long before = StatusKiB("VmRSS");
    const Outcome outcome = Call(Consulta());
    const long growth = StatusKiB("VmHWM") - before;
    EXPECT_FALSE(outcome.returned);
    EXPECT_EQ(outcome.last.error, LUMIREX_E_ANSWER);
    EXPECT_THAT(outcome.lastMessage, HasSubstr(c.reason));
    const auto lines = LogTexts();
    EXPECT_THAT(lines[lines.size() - 2], HasSubstr(c.reason));
    EXPECT_EQ(lines.back(), "FIM");
    EXPECT_TRUE(outcome.result == CallersResult(5));  // not printed: a packet of a million rows
    if (kPeakShowsWhatTheCallHeld) {
      EXPECT_LT(growth, 256 * 1024) << "peak grew by " << growth << " KiB";
    }
  }
  ExpectClearedAfter();
}

// Hostile or broken documents: read where they are well-formed, refused by the
// reader where they are not (false, the reason logged and told, then FIM).
TEST_F(ServiceFaults, HostileDocumentsAreReadSafely) {
  const std::string ok = "<success>true</success><message>ok</message>";
  std::string laughs = "<!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\">";
  for (char level = 'b'; level <= 'j'; ++level) {
    laughs += std::string("<!ENTITY ") + level + " \"";
    for (int i = 0; i < 10; ++i) laughs += std::string("&") + static_cast<char>(level - 1) + ";";
    laughs += "\">";
  }
  laughs += "]><r><success>true</success><message>&j;</message></r>";
  std::string nested;
  for (int i = 0; i < 100000; ++i) nested += "<x>";
  for (int i = 0; i < 100000; ++i) nested += "</x>";

  struct Case {
    const char* name;
    std::string answer;
    bool read;            // the reader ran to its end
    std::string message;  // result element 1 when it did
  };
  const std::vector<Case> cases = {
      {"invalid UTF-8", "<r><success>true</success><message>Ol\xE1 \xC3\x28 fim\xFF</message></r>",
       true, "Ol? ?( fim?"},
      {"NUL in the message", "<r><success>true</success><message>a\0b</message></r>"s, false, ""},
      {"NUL after the document", "<r>" + ok + "</r>\0junk"s, false, ""},
      {"billion laughs", laughs, true, "&j;"},
      {"external entity",
       "<!DOCTYPE r [<!ENTITY x SYSTEM \"" + sandbox_.BaseUrl() +
           "user?cpf=1&amp;pdv=true\">]><r>" + ok + "<x>&x;</x></r>",
       true, "ok"},
      {"100 000 levels beside the message", "<r>" + ok + nested + "</r>", true, "ok"},
      {"100 000 levels in the message",
       "<r><success>true</success><message>" + nested + "</message></r>", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Faults faults;
    faults.rawAnswer = c.answer;
    sandbox_.SetFaults(faults);
    for (const auto& params : BothReaders()) {
      sandbox_.ClearJournal();
      const Outcome outcome = Call(params);
      EXPECT_EQ(outcome.returned, c.read);
      EXPECT_EQ(LogTexts().back(), "FIM");
      EXPECT_EQ(services_->messages.size(), c.read ? 0u : 1u);
      EXPECT_EQ(sandbox_.Journal().size(), 1u);  // nothing fetched on the answer's say-so
      if (c.read) {
        EXPECT_EQ(outcome.result.items()[0], Variant(false));
        EXPECT_EQ(outcome.result.items()[1], Variant(c.message));
      } else {
        EXPECT_EQ(outcome.result, CallersResult(5));
      }
    }
  }
  ExpectClearedAfter();
}

}  // namespace
}  // namespace calltest
