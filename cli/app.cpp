#include "cli/app.hpp"

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

#include "cli/call_runner.hpp"
#include "cli/demo.hpp"
#include "cli/display_text.hpp"
#include "cli/parameter_list.hpp"
#include "cli/result_json.hpp"
#include "cli/result_text.hpp"
#include "cli/sandbox_command.hpp"
#include "cli/usage_error.hpp"
#include "lumirex/lumirex.hpp"

namespace lumirex::cli {

namespace {

constexpr const char* kOverview =
    "lumirex: the point-of-sale side of the Lumirex loyalty and cashback service, from a shell.\n"
    "Each call subcommand makes one integration call through liblumirex, laid out as a till\n"
    "lays it out, and writes the integration log under the base folder.";

constexpr const char* kFooter =
    "Examples:\n"
    "  lumirex demo                         the four operations against a built-in sandbox\n"
    "  lumirex sandbox --port 8080          serve the sandbox loyalty service\n"
    "  lumirex consulta --cpf 12345678909 --url http://127.0.0.1:8080/\n"
    "\n"
    "Environment: LUMIREX_URL (--url), LUMIREX_DB (--db), LUMIREX_BASE_DIR (--base-dir).\n"
    "Exit status: 0 the service accepted, 1 it declined, 2 the call failed, 64 usage error.";

// What the parsed command line runs, and the status when it fails unexpectedly.
struct Action {
  std::function<int()> run;
  int failureStatus = 1;
};

struct Options {
  CallSettings call;
  std::string dbOption;
  std::string separatorOption;
  std::string cpf, branch, till, sequence;
  PromocodeValidation validation;
  std::string operation;
  std::vector<std::string> elements;
  int port = 0;
  std::string fixture;
  std::string demoDir = "demo";
};

void AddCallOptions(CLI::App* sub, Options& options) {
  sub->add_option("--url", options.call.url, "Base URL of the loyalty service")
      ->envname("LUMIREX_URL");
  sub->add_option("--db", options.dbOption,
                  "Point-of-sale database: sqlite3://db=FILE or odbc://ODBC-STRING\n"
                  "(default: $LUMIREX_DB, else BASE/Dados/pos.sqlite read-only)");
  sub->add_option("--base-dir", options.call.baseDir,
                  "Base folder; the log goes to BASE/Dados/LogIntegracaoOrvo/...\n"
                  "(default: $LUMIREX_BASE_DIR, else the current folder)")
      ->envname("LUMIREX_BASE_DIR");
  sub->add_option("--decimal-separator", options.separatorOption,
                  "Decimal separator of the library's number texts: , or . (default ,)");
  sub->add_flag("--json", options.call.json,
                "Print {\"returned\": ..., \"result\": [...]} instead of words");
}

// Runs one call and prints its outcome; the exit status follows the outcome.
int RunCall(const Options& options, std::vector<Variant> params, std::ostream& out,
            std::ostream& err) {
  CallSettings settings = options.call;
  if (!options.dbOption.empty()) settings.connection = options.dbOption;
  if (!options.separatorOption.empty()) settings.separator = options.separatorOption;
  ApplySettings(settings);
  CallOutcome outcome = Call(std::move(params));
  if (settings.json) {
    for (const auto& message : outcome.messages) err << "lumirex: " << FromAnsi(message) << '\n';
    out << OutcomeToJson(outcome).dump(2) << '\n';
  } else {
    PrintOutcome(out, outcome, DecimalSeparator());
  }
  return ExitStatus(outcome);
}

CLI::App* AddCallCommand(CLI::App& app, const std::string& name, const std::string& description,
                         const std::string& example, Options& options) {
  CLI::App* sub = app.add_subcommand(name, description);
  sub->footer("Example:\n  " + example);
  AddCallOptions(sub, options);
  return sub;
}

void AddSaleKeyOptions(CLI::App* sub, Options& options) {
  sub->add_option("--filial", options.branch, "Branch code (CDFILIAL)")->required();
  sub->add_option("--caixa", options.till, "Till code (CDCAIXA)")->required();
  sub->add_option("--seq", options.sequence, "Sale sequence number (NRSEQVENDA)")->required();
}

void AddCallCommands(CLI::App& app, Options& o, Action& action, std::ostream& out,
                     std::ostream& err) {
  auto call = [&o, &action, &out, &err](std::function<std::vector<Variant>()> params) {
    action = {[&o, &out, &err, params] { return RunCall(o, params(), out, err); }, kExitCallFailed};
  };

  CLI::App* consulta = AddCallCommand(
      app, "consulta", "Customer query: name, cashback balance and promocodes of a CPF",
      "lumirex consulta --cpf 12345678909 --url http://127.0.0.1:8080/ --json", o);
  consulta->add_option("--cpf", o.cpf, "Customer's CPF")->required();
  consulta->callback([call, &o] {
    call([&o] { return CommonParameters("CONSULTA", o.call.url, o.cpf, "", "", ""); });
  });

  CLI::App* valida = AddCallCommand(
      app, "valida-promocode", "Ask whether a promocode applies to a sale being rung up",
      "lumirex valida-promocode --cpf 12345678909 --promocode BEMVINDO10 --store 0001 \\\n"
      "      --subtotal 94,80 --product 1001 2001 --url http://127.0.0.1:8080/",
      o);
  valida->add_option("--cpf", o.validation.cpf, "Customer's CPF")->required();
  valida->add_option("--promocode", o.validation.promocode, "The promocode")->required();
  valida->add_option("--store", o.validation.store, "Store reference")->required();
  valida->add_option("--subtotal", o.validation.subtotal, "Sale subtotal: 12,34 or 12.34")
      ->required();
  auto* products =
      valida->add_option("--product", o.validation.products, "Product codes of the sale items");
  auto* items = valida->add_option("--items", o.validation.itemsFile,
                                   "Sale items as a data packet file (column CDPRODUTO)");
  products->excludes(items);
  valida->callback(
      [call, &o] { call([&o] { return ValidationParameters(o.call.url, o.validation); }); });

  CLI::App* venda =
      AddCallCommand(app, "venda", "Report a sale, read from the point-of-sale database",
                     "lumirex venda --filial 0001 --caixa 001 --seq 000123 --base-dir demo \\\n"
                     "      --url http://127.0.0.1:8080/",
                     o);
  AddSaleKeyOptions(venda, o);
  venda->callback([call, &o] {
    call([&o] { return CommonParameters("VENDA", o.call.url, "", o.branch, o.till, o.sequence); });
  });

  CLI::App* cancel = AddCallCommand(
      app, "venda-canc", "Report the cancellation of a sale",
      "lumirex venda-canc --filial 0001 --caixa 001 --seq 000123 --base-dir demo \\\n"
      "      --url http://127.0.0.1:8080/",
      o);
  AddSaleKeyOptions(cancel, o);
  cancel->callback([call, &o] {
    call([&o] {
      return CommonParameters("VENDA_CANC", o.call.url, "", o.branch, o.till, o.sequence);
    });
  });

  CLI::App* raw = AddCallCommand(
      app, "call",
      "Any parameter list, as text elements: OPERATION, then the URL of --url as element 1,\n"
      "then each PARAM from element 2 on (CPF, branch, till, sequence, ...). For reproducing\n"
      "a till's call; put -- before elements that begin with a hyphen.",
      "lumirex call VENDA \"\" 0001 001 000123 --url http://127.0.0.1:8080/", o);
  raw->add_option("operation", o.operation, "Operation code, element 0")->required();
  raw->add_option("params", o.elements, "Elements 2, 3, ...");
  raw->callback(
      [call, &o] { call([&o] { return TextParameters(o.operation, o.call.url, o.elements); }); });
}

void AddServiceCommands(CLI::App& app, Options& o, Action& action, std::ostream& out) {
  CLI::App* sandbox =
      app.add_subcommand("sandbox",
                         "Serve the sandbox loyalty service on 127.0.0.1 until SIGINT or SIGTERM;\n"
                         "the first line printed is its base URL");
  sandbox->footer(
      "Example:\n  lumirex sandbox --port 8080 --fixture customers.json\n"
      "The fixture format is in docs/integration-guide.md.");
  sandbox->add_option("--port", o.port, "Port to listen on; 0 picks a free one (default 0)")
      ->check(CLI::Range(0, 65535));
  sandbox->add_option("--fixture", o.fixture, "Customers as a JSON fixture file");
  sandbox->callback([&o, &action, &out] {
    action = {[&o, &out] { return ServeSandbox(o.port, o.fixture, out); }, 1};
  });

  CLI::App* demo = app.add_subcommand(
      "demo",
      "Build a SQLite point-of-sale database in DIR, start the sandbox in this process and\n"
      "run a customer query, a promocode validation, a sale and its cancellation with DIR\n"
      "as base folder; exit 0 when the service accepted all four");
  demo->footer("Example:\n  lumirex demo --dir /tmp/lumirex-demo");
  demo->add_option("--dir", o.demoDir, "Folder of the database and the log (default ./demo)");
  demo->callback([&o, &action, &out] {
    action = {[&o, &out] { return RunDemo(o.demoDir, out); }, 1};
  });
}

// CLI11 reports a misspelt subcommand as a missing one; say what it was.
std::string ParseErrorText(const CLI::App& app, const CLI::ParseError& error, int argc,
                           const char* const* argv) {
  if (app.get_subcommands().empty() && argc > 1 && argv[1][0] != '-') {
    return "'" + std::string(argv[1]) + "' is not a subcommand";
  }
  return error.what();
}

std::string HelpHint(const CLI::App& app) {
  for (const CLI::App* sub : app.get_subcommands()) {
    return "Run 'lumirex " + sub->get_name() + " --help' for its options.";
  }
  return "Run 'lumirex --help' for the subcommands.";
}

}  // namespace

int RunApp(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  CLI::App app(kOverview, "lumirex");
  app.footer(kFooter);
  app.set_version_flag("--version", Version());
  app.require_subcommand(1);
  Options options;
  Action action;
  AddCallCommands(app, options, action, out, err);
  AddServiceCommands(app, options, action, out);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == 0) return app.exit(error, out, err);
    err << "lumirex: " << ParseErrorText(app, error, argc, argv) << '\n' << HelpHint(app) << '\n';
    return kExitUsage;
  }
  if (!action.run) {
    err << "lumirex: no subcommand given\n" << HelpHint(app) << '\n';
    return kExitUsage;
  }
  try {
    return action.run();
  } catch (const UsageError& error) {
    err << "lumirex: " << error.what() << '\n' << HelpHint(app) << '\n';
    return kExitUsage;
  } catch (const std::exception& error) {
    err << "lumirex: " << error.what() << '\n';
    return action.failureStatus;
  }
}

}  // namespace lumirex::cli
