// Hostile or malformed texts from the host, each through the C ABI against
// the sandbox and the demo database: a clear failure or the documented
// reading, nothing sent that the log does not show, the database untouched.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pthread.h>

#include <functional>

#include "end_to_end.hpp"

using lumirex::Variant;
using ::testing::HasSubstr;
using namespace std::string_literals;

namespace calltest {
namespace {

class BadInput : public EndToEnd {
 protected:
  // The one request the last call sent.
  lumirex::sandbox::JournalEntry OnlyRequest() const {
    const auto journal = sandbox_.Journal();
    EXPECT_EQ(journal.size(), 1u);
    return journal.empty() ? lumirex::sandbox::JournalEntry{} : journal.front();
  }
};

const std::string kUnknownCustomer = "Cliente n\xE3o encontrado";
const std::string kSaleWithoutId = "Venda sem identifica\xE7\xE3o (orderId)";
const std::string kCancellationWithoutId =
    "Cancelamento sem identifica\xE7\xE3o da venda (orderId)";

TEST_F(BadInput, TenMiBCpf) {
  const std::string cpf(10 << 20, '7');

  // In the query string it makes a URL longer than the HTTP client takes.
  sandbox_.ClearJournal();
  ExpectFailure(Call(Consulta(cpf)), kTimeoutLine,
                "bytes long; the HTTP client takes at most 8000000");
  EXPECT_TRUE(sandbox_.Journal().empty());

  // In a document it is sent whole, and the service answers for it.
  sandbox_.ClearJournal();
  ExpectDeclined(Call(Validation(cpf)), kUnknownCustomer);
  EXPECT_THAT(OnlyRequest().document, HasSubstr("<userId>" + cpf + "</userId>"));

  // A sale report reads the customer from the database, not from the list.
  auto sale = Sale();
  sale[2] = cpf;
  ExpectAccepted(sale);

  ExpectAccepted(Consulta());
}

// Texts the service receives as the host gave them, whatever they hold.
TEST_F(BadInput, TextsThatCouldReshapeTheRequestAreSentAsGiven) {
  // Percent-encoded: no parameter is added or changed.
  sandbox_.ClearJournal();
  ExpectDeclined(Call(Consulta("1&x=2 3")), kUnknownCustomer);
  EXPECT_EQ(OnlyRequest().query, "cpf=1%26x%3D2%203&pdv=true");

  sandbox_.ClearJournal();
  ExpectDeclined(Call(Consulta("123\0"s
                               "456")),
                 kUnknownCustomer);
  EXPECT_EQ(OnlyRequest().query, "cpf=123%00456&pdv=true");

  // A NUL cannot stand in XML and is left out; cut at it instead, this
  // promocode would have gone out as the valid BEMVINDO10.
  sandbox_.ClearJournal();
  const Outcome outcome = Call(Validation(kCpf, "BEMVINDO10\0X"s));
  EXPECT_TRUE(outcome.returned);
  EXPECT_EQ(outcome.result.items()[0], Variant(true));
  EXPECT_THAT(OnlyRequest().document, HasSubstr("<friendlyCode>BEMVINDO10X</friendlyCode>"));
  const auto lines = LogTexts();
  EXPECT_THAT(lines[lines.size() - 4], HasSubstr("<friendlyCode>BEMVINDO10X</friendlyCode>"));
}

TEST_F(BadInput, NulBytesThatWouldChangeWhatIsDoneAreRefused) {
  struct Case {
    const char* name;
    std::vector<std::string> params;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {"in the operation",
       {"CONSULTA\0"s, sandbox_.BaseUrl(), kCpf, kBranch, kTill, kSequence},
       "unknown operation 'CONSULTA"},
      // Cut at the NUL, the request would go to the service's root.
      {"in the URL",
       {"CONSULTA", sandbox_.BaseUrl() + "\0x"s, kCpf, kBranch, kTill, kSequence},
       "the URL holds a NUL byte"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sandbox_.ClearJournal();
    ExpectFailure(Call(c.params), kTimeoutLine, c.reason);
    EXPECT_TRUE(sandbox_.Journal().empty());
  }
  ExpectAccepted(Consulta());
}

// The key parts are bound as parameters, never spliced into the statement: a
// key shaped like SQL matches no sale, and the database stays as it was.
TEST_F(BadInput, SaleKeysShapedLikeSqlMatchNoSaleAndChangeNothing) {
  struct Key {
    std::string branch, till, sequence;
  };
  const std::vector<Key> keys = {
      {"' OR 1=1 --", kTill, kSequence},   {kBranch, "1');DROP--", kSequence},
      {kBranch, kTill, "0 OR 1=1"},        {kBranch, kTill, kSequence + "' --"},
      {"0001\0X"s, kTill, kSequence},  // a key cut at its NUL would match
      {kBranch, kTill, kSequence + "\0"s},
  };
  const std::string before = testkit::ReadFile(database_);
  for (const Key& key : keys) {
    SCOPED_TRACE(::testing::PrintToString(key.branch + "|" + key.till + "|" + key.sequence));
    for (const auto& [operation, verdict] :
         {std::pair{"VENDA", kSaleWithoutId}, std::pair{"VENDA_CANC", kCancellationWithoutId}}) {
      sandbox_.ClearJournal();
      ExpectDeclined(Call(Sale(operation, key.branch, key.till, key.sequence)), verdict);
      EXPECT_THAT(OnlyRequest().document, HasSubstr("<orderId/>"));
    }
  }
  // Longer than the parameter takes: refused before the statement runs.
  sandbox_.ClearJournal();
  ExpectFailure(Call(Sale("VENDA", "0001'; DELETE FROM VENDA; --")), "INICIO",
                "parameter P_CDFILIAL takes at most 16 characters");
  EXPECT_TRUE(sandbox_.Journal().empty());

  EXPECT_TRUE(testkit::ReadFile(database_) == before) << "the database file changed";
  ExpectAccepted(Sale("VENDA"));
}

// Runs work on a thread with the small stack some hosts give their workers.
void OnSmallStack(std::function<void()> work) {
  pthread_attr_t attributes;
  ASSERT_EQ(pthread_attr_init(&attributes), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attributes, 256 * 1024), 0);
  pthread_t thread;
  const auto run = [](void* job) -> void* {
    (*static_cast<std::function<void()>*>(job))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attributes, run, &work), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
}

// Copying, and freeing, arrays nested this deep one stack frame a level would
// overflow the worker's stack: the call refuses them as a bad parameter, and
// the host's list is freed by the library's helper on the same stack.
TEST_F(BadInput, ArraysNestedDeepAreRefusedOnASmallStack) {
  for (const int depth : {2000, 50000}) {
    SCOPED_TRACE(depth);
    sandbox_.ClearJournal();
    Outcome outcome;
    OnSmallStack([&] {
      CArray list(Validation());
      LumirexVariant* level = &list[9];
      LumirexVariantClear(level);
      for (int i = 0; i < depth; ++i, level = &level->value.array.items[0]) {
        ASSERT_EQ(LumirexArrayCreate(level, 1), 0);
      }
      outcome = Call(list);
    });
    ExpectFailure(outcome, "INICIO",
                  "parameter element 9 holds arrays nested more than 32 deep; the library takes at "
                  "most 32 levels");
    EXPECT_EQ(outcome.last.error, LUMIREX_E_INPUT);
    EXPECT_TRUE(sandbox_.Journal().empty());
  }
  ExpectAccepted(Validation());
}

// A base URL without http:// or https:// is refused before anything is sent:
// the HTTP client would guess plain HTTP, and a typo would send CPFs in clear.
TEST_F(BadInput, AUrlWithoutSchemeIsRefused) {
  std::vector<std::string> query = Consulta();
  query[1] = "till:s3cr3t@127.0.0.1:" + std::to_string(sandbox_.Port()) + "/";
  const Outcome refused = Call(query);
  EXPECT_FALSE(refused.returned);
  EXPECT_EQ(refused.last.error, LUMIREX_E_INPUT);
  EXPECT_THAT(refused.lastMessage, ::testing::HasSubstr("does not start with http://"));
  EXPECT_THAT(refused.lastMessage, ::testing::Not(::testing::HasSubstr("s3cr3t")));
  EXPECT_TRUE(sandbox_.Journal().empty());
}

}  // namespace
}  // namespace calltest
