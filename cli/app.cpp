#include "cli/app.hpp"

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

#include "cli/call_runner.hpp"
#include "cli/database_option.hpp"
#include "cli/demo.hpp"
#include "cli/display_text.hpp"
#include "cli/doctor/command.hpp"
#include "cli/escaping_stream.hpp"
#include "cli/host_encoding.hpp"
#include "cli/log_command.hpp"
#include "cli/outbox_command.hpp"
#include "cli/outbox_metrics.hpp"
#include "cli/parameter_list.hpp"
#include "cli/result_json.hpp"
#include "cli/result_text.hpp"
#include "cli/sandbox_command.hpp"
#include "cli/usage_error.hpp"
#include "lumirex/lumirex.hpp"
#include "support/codepage.hpp"
#include "support/host_text.hpp"
#include "support/operations.hpp"
#include "support/system_clock_and_path.hpp"

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
    "  lumirex log --failed --operation VENDA   the day's sale reports that failed\n"
    "  lumirex doctor --base-dir /opt/pdv  check a till's set-up in one go\n"
    "\n"
    "Environment: LUMIREX_URL (--url), LUMIREX_DB (--db), LUMIREX_BASE_DIR (--base-dir),\n"
    "  LUMIREX_OUTBOX (--outbox), LUMIREX_OUTBOX_KEEP_DAYS (outbox prune --days),\n"
    "  LUMIREX_HOST_ENCODING (--host-encoding),\n"
    "  LUMIREX_CA_FILE (the service's certificate authorities, as for any host),\n"
    "  LUMIREX_FORWARDING=1 (kept reports sent by themselves while the command runs),\n"
    "  LUMIREX_FORWARDING_BACKOFF_MS=first,longest (its waits; 5000,300000).\n"
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
  std::string hostEncoding;
  std::string cpf, branch, till, sequence;
  PromocodeValidation validation;
  std::string operation;
  std::vector<std::string> elements;
  SandboxOptions sandbox;
  LogOptions log;
  std::string demoDir = "demo";
  std::string outbox;
  ListOptions outboxList;
  SendOptions outboxSend;
  MetricsOptions metrics;
  std::int64_t keepDays = 0;
  std::string orderId;
  bool confirmed = false;
  DoctorOptions doctor;
};

// What the subcommands fill in while the command line is parsed.
struct Context {
  std::ostream& out;
  std::ostream& err;
  Options o;
  Action action;
};

// Builds a call subcommand's parameter list once its options are parsed.
using ParamsBuilder = std::function<std::vector<Variant>()>;

void AddHostEncodingOption(CLI::App* sub, Options& options) {
  sub->add_option("--host-encoding", options.hostEncoding,
                  "Encoding of the texts the command and the library exchange: UTF-8 or\n"
                  "windows-1252 (default: UTF-8 when the locale's character set is)")
      ->envname("LUMIREX_HOST_ENCODING");
}

void AddCallOptions(CLI::App* sub, Options& options) {
  sub->add_option("--url", options.call.url, "Base URL of the loyalty service")
      ->envname("LUMIREX_URL");
  sub->add_option("--db", options.dbOption,
                  "Point-of-sale database: sqlite3://db=FILE, odbc://ODBC-STRING or a SQLite file\n"
                  "(default: $LUMIREX_DB, else BASE/Dados/pos.sqlite read-only)");
  sub->add_option("--base-dir", options.call.baseDir,
                  "Base folder; the log goes to BASE/Dados/LogIntegracaoOrvo/...\n"
                  "(default: $LUMIREX_BASE_DIR, else the current folder)");
  sub->add_option("--decimal-separator", options.separatorOption,
                  "Decimal separator of the library's number texts: , or . (default ,)");
  sub->add_flag("--json", options.call.json,
                "Print {\"returned\": ..., \"result\": [...]} instead of words");
  AddHostEncodingOption(sub, options);
  sub->add_option("--outbox", options.outbox,
                  "Keep a sale report the service did not get in this SQLite file, to be\n"
                  "sent again with 'lumirex outbox send' (default: $LUMIREX_OUTBOX, else off)");
}

// Runs one call and prints its outcome; the exit status follows the outcome.
int RunCall(Context& c, std::vector<Variant> params) {
  CallSettings settings = c.o.call;
  if (!c.o.dbOption.empty()) settings.connection = ConnectionFromOption(c.o.dbOption);
  if (!c.o.separatorOption.empty()) settings.separator = c.o.separatorOption;
  ApplySettings(settings);
  // An outbox that cannot be used is no reason to hold the report back: the
  // call sends it without one, and says so.
  if (!c.o.outbox.empty() && !SetOutboxFile(c.o.outbox)) {
    c.err << "lumirex: " << FromServiceBytes(LastCall().message)
          << "; the report is sent without it\n";
  }
  CallRun outcome = Call(std::move(params));
  if (settings.json) {
    for (const auto& message : outcome.messages) c.err << "lumirex: " << FromAnsi(message) << '\n';
    c.out << OutcomeToJson(outcome).dump(2) << '\n';
  } else {
    PrintOutcome(c.out, outcome, DecimalSeparator());
  }
  return ExitStatus(outcome);
}

CLI::App* AddCallCommand(CLI::App& app, Context& c, const std::string& name,
                         const std::string& description, const std::string& example,
                         ParamsBuilder build) {
  CLI::App* sub = app.add_subcommand(name, description);
  sub->footer("Example:\n  " + example);
  AddCallOptions(sub, c.o);
  sub->callback([&c, build, sub] {
    // The list is built when the action runs, so its usage errors are caught there.
    c.action = {[&c, build, sub] {
                  // CLI11 fills every subcommand's options from the environment,
                  // and the call subcommands share their variables: the chosen
                  // one's values, from its command line first, are put back last.
                  for (CLI::Option* option : sub->get_options()) {
                    if (option->count() > 0) option->run_callback();
                  }
                  return RunCall(c, build());
                },
                kExitCallFailed};
  });
  return sub;
}

// A call subcommand named and described by its operation's row.
CLI::App* AddOperationCommand(CLI::App& app, Context& c, const Operation& operation,
                              const std::string& example, ParamsBuilder build) {
  return AddCallCommand(app, c, std::string(operation.command), std::string(operation.summary),
                        "lumirex " + std::string(operation.command) + " " + example,
                        std::move(build));
}

void AddConsulta(CLI::App& app, Context& c) {
  Options& o = c.o;
  const Operation& operation = OperationOf(OperationId::CustomerQuery);
  CLI::App* sub = AddOperationCommand(
      app, c, operation, "--cpf 12345678909 --url http://127.0.0.1:8080/ --json", [&o, &operation] {
        return CommonParameters(std::string(operation.name), o.call.url, o.cpf, "", "", "");
      });
  sub->add_option("--cpf", o.cpf, "Customer's CPF")->required();
}

void AddValidation(CLI::App& app, Context& c) {
  Options& o = c.o;
  CLI::App* sub =
      AddOperationCommand(app, c, OperationOf(OperationId::PromocodeValidation),
                          "--cpf 12345678909 --promocode BEMVINDO10 --store 0001 \\\n"
                          "      --subtotal 94,80 --product 1001 2001 --url http://127.0.0.1:8080/",
                          [&o] { return ValidationParameters(o.call.url, o.validation); });
  sub->add_option("--cpf", o.validation.cpf, "Customer's CPF")->required();
  sub->add_option("--promocode", o.validation.promocode, "The promocode")->required();
  sub->add_option("--store", o.validation.store, "Store reference")->required();
  sub->add_option("--subtotal", o.validation.subtotal, "Sale subtotal: 12,34 or 12.34")->required();
  auto* products =
      sub->add_option("--product", o.validation.products, "Product codes of the sale items");
  auto* items = sub->add_option("--items", o.validation.itemsFile,
                                "Sale items as a data packet file (column CDPRODUTO)");
  products->excludes(items);
}

// One subcommand for each report of the table.
void AddSaleCommands(CLI::App& app, Context& c) {
  for (const Operation& operation : kOperations) {
    if (!operation.report) continue;
    Options& o = c.o;
    CLI::App* sub =
        AddOperationCommand(app, c, operation,
                            "--filial 0001 --caixa 001 --seq 000123 --base-dir demo \\\n"
                            "      --url http://127.0.0.1:8080/",
                            [&o, &operation] {
                              return CommonParameters(std::string(operation.name), o.call.url, "",
                                                      o.branch, o.till, o.sequence);
                            });
    sub->add_option("--filial", o.branch, "Branch code (CDFILIAL)")->required();
    sub->add_option("--caixa", o.till, "Till code (CDCAIXA)")->required();
    sub->add_option("--seq", o.sequence, "Sale sequence number (NRSEQVENDA)")->required();
  }
}

void AddRawCall(CLI::App& app, Context& c) {
  Options& o = c.o;
  CLI::App* sub = AddCallCommand(
      app, c, "call",
      "Any parameter list, as text elements: OPERATION, then the URL of --url as element 1,\n"
      "then each PARAM from element 2 on (CPF, branch, till, sequence, ...). For reproducing\n"
      "a till's call; put -- before elements that begin with a hyphen.",
      "lumirex call VENDA \"\" 0001 001 000123 --url http://127.0.0.1:8080/",
      [&o] { return TextParameters(o.operation, o.call.url, o.elements); });
  sub->add_option("operation", o.operation, "Operation code, element 0")->required();
  sub->add_option("params", o.elements, "Elements 2, 3, ...");
}

void AddSandbox(CLI::App& app, Context& c) {
  CLI::App* sub = app.add_subcommand(
      "sandbox",
      "Serve the sandbox loyalty service on 127.0.0.1 (or --host) until SIGINT or\n"
      "SIGTERM (Ctrl+C or Ctrl+Break on Windows); the first line printed is its base URL");
  sub->footer(
      "Examples:\n  lumirex sandbox --port 8080 --fixture customers.json\n"
      "  lumirex sandbox --base-path /api/ --fault stall=12 --fault-rate 0.2 --verbose\n"
#ifdef _WIN32
      "The fixture format is in integration-guide.md, beside lumirex.exe in the zip.\n"
#else
      "The fixture format is in /usr/share/doc/lumirex/integration-guide.md.\n"
#endif
      "Exit status: 0 stopped by a signal, 2 it could not listen, 64 usage error.");
  AddSandboxOptions(*sub, c.o.sandbox);
  sub->callback([&c] {
    c.action = {[&c] { return ServeSandbox(c.o.sandbox, c.out); }, kExitCannotServe};
  });
}

void AddLog(CLI::App& app, Context& c) {
  CLI::App* sub = app.add_subcommand(
      "log",
      "Read a day's integration log into calls: one line each with its time, operation,\n"
      "CPF, sale key, duration and outcome; lines that belong to no call go to stderr");
  sub->footer(
      "Examples:\n  lumirex log --failed --operation VENDA\n"
      "  lumirex log --date 2026-12-07 --sale 0001/001/000123 --json\n"
      "Exit status: 0 read, 2 the log cannot be read, 64 usage error.");
  AddLogOptions(*sub, c.o.log);
  sub->callback([&c] {
    c.action = {[&c] { return ShowLog(c.o.log, c.out, c.err); }, kExitLogUnreadable};
  });
}

void AddOutboxMetrics(CLI::App& outbox, Context& c) {
  CLI::App* metrics = outbox.add_subcommand(
      "metrics",
      "The outbox's figures in the Prometheus text format: reports waiting and held, the\n"
      "oldest's age, reports accepted, refused, dropped and held since the file was made,\n"
      "and the service's state as the library last noted it; changes nothing");
  metrics->footer(
      "Example:\n  lumirex outbox metrics --textfile /var/lib/prometheus/node-exporter\n"
      "Exit status: 0 written, 1 the text file cannot be written, 2 the outbox cannot be\n"
      "read, 64 usage error.");
  metrics
      ->add_option("--textfile", c.o.metrics.folder,
                   "Write them to DIR/lumirex_outbox.prom, replaced whole, for the\n"
                   "textfile collector of node_exporter or windows_exporter\n"
                   "(default: print them)")
      ->option_text("DIR");
  metrics
      ->add_option("--till", c.o.metrics.till,
                   "Label them till=\"NAME\" and write DIR/lumirex_outbox_NAME.prom, for a\n"
                   "machine whose several tills write to one folder")
      ->option_text("NAME");
  metrics->callback([&c] {
    c.action = {[&c] { return WriteOutboxMetrics(c.o.outbox, c.o.metrics, c.out, c.err); },
                kExitOutboxUnreadable};
  });
}

void AddOutbox(CLI::App& app, Context& c) {
  CLI::App* outbox =
      app.add_subcommand("outbox", "The sale reports kept while the service could not be reached");
  outbox->footer(
      "Examples:\n  lumirex outbox list --outbox /var/lib/pdv/outbox.sqlite\n"
      "  lumirex outbox send --max 50\n"
      "Exit status: as each subcommand's --help says; 64 usage error.");
  outbox->require_subcommand(1);
  outbox->fallthrough();  // --outbox after the subcommand's name too
  outbox->add_option("--outbox", c.o.outbox, "The outbox file (default: $LUMIREX_OUTBOX)");
  outbox->callback([&c] {
    if (c.o.outbox.empty()) throw CLI::RequiredError("--outbox");
  });
  CLI::App* list = outbox->add_subcommand(
      "list", "Every report, oldest first, its state and where it would be sent; changes nothing");
  list->footer("Exit status: 0 listed, 2 the outbox cannot be read, 64 usage error.");
  list->add_flag("--json", c.o.outboxList.json, "Print a JSON array");
  list->add_flag("--all", c.o.outboxList.all, "Dropped reports too, with when and by whom");
  list->add_option("--url", c.o.outboxList.url, "Base URL they would be sent to")
      ->envname("LUMIREX_URL");
  list->callback([&c] {
    c.action = {[&c] { return ListOutbox(c.o.outbox, c.o.outboxList, c.out); },
                kExitOutboxUnreadable};
  });
  CLI::App* send = outbox->add_subcommand(
      "send",
      "Send waiting reports, oldest first within each order, each to the service it was\n"
      "made for unless --url names another; exit 0 when every one tried got a verdict");
  send->footer(
      "Exit status: 0 every report tried got a verdict, 1 a resend failed and reports still\n"
      "wait, 2 the outbox cannot be read, 3 reports are held (support must look), 64 usage\n"
      "error.");
  send->add_option("--max", c.o.outboxSend.max, "Send at most this many (default: all)");
  send->add_option("--url", c.o.outboxSend.url,
                   "Base URL of the service to send every report to, as when the service\n"
                   "moved (default: the one each was made with)")
      ->envname("LUMIREX_URL");
  send->add_flag("--held", c.o.outboxSend.held,
                 "Send held reports too (set aside after failing for long)");
  send->add_option("--base-dir", c.o.call.baseDir,
                   "Base folder of the log (default: $LUMIREX_BASE_DIR, else the current folder)");
  send->callback([&c] {
    c.action = {[&c] {
                  UseBaseDir(c.o.call.baseDir);
                  return SendOutbox(c.o.outbox, c.o.outboxSend, c.out, c.err);
                },
                kExitOutboxUnreadable};
  });
  CLI::App* drop = outbox->add_subcommand(
      "drop", "Drop the waiting and held reports of an order for good, on record");
  drop->footer(
      "Example:\n  lumirex outbox drop ORDER_ID --yes   (the order_id that outbox list shows)\n"
      "Exit status: 0 dropped, 1 nothing dropped (no waiting report of that order, or one is\n"
      "being sent now), 2 the outbox cannot be read, 64 usage error (--yes missing).");
  drop->add_option("order", c.o.orderId, "The report's orderId")->required();
  drop->add_flag("--yes", c.o.confirmed, "Confirm that the reports are to be lost");
  drop->add_option("--base-dir", c.o.call.baseDir,
                   "Base folder of the log the drop is noted in (default: $LUMIREX_BASE_DIR,\n"
                   "else the current folder)");
  drop->callback([&c] {
    c.action = {[&c] {
                  UseBaseDir(c.o.call.baseDir);
                  return DropFromOutbox(c.o.outbox, c.o.orderId, c.o.confirmed, c.out);
                },
                kExitOutboxUnreadable};
  });
  CLI::App* prune = outbox->add_subcommand(
      "prune", "Remove the answered, declined and dropped reports settled long ago");
  prune->footer(
      "A sending round does the same by itself.\n"
      "Exit status: 0 done, 2 the outbox cannot be written, 64 usage error.");
  prune
      ->add_option("--days", c.o.keepDays,
                   "Keep those settled within this many days (default: "
                   "$LUMIREX_OUTBOX_KEEP_DAYS, else 30)")
      ->check(CLI::PositiveNumber);
  prune->callback([&c] {
    c.action = {[&c] { return PruneOutbox(c.o.outbox, c.o.keepDays, c.out); }, 2};
  });
  AddOutboxMetrics(*outbox, c);
}

void AddDemo(CLI::App& app, Context& c) {
  CLI::App* sub = app.add_subcommand(
      "demo",
      "Build a SQLite point-of-sale database in DIR, start the sandbox in this process and\n"
      "run a customer query, a promocode validation, a sale and its cancellation with DIR\n"
      "as base folder; exit 0 when the service accepted all four");
  sub->footer("Example:\n  lumirex demo --dir /tmp/lumirex-demo");
  sub->add_option("--dir", c.o.demoDir, "Folder of the database and the log (default ./demo)");
  AddHostEncodingOption(sub, c.o);
  sub->callback([&c] { c.action = {[&c] { return RunDemo(c.o.demoDir, c.out); }, 1}; });
}

void AddDoctor(CLI::App& app, Context& c) {
  AddDoctorSubcommand(app, c.o.doctor)->callback([&c] {
    c.action = {[&c] { return RunDoctor(c.o.doctor, c.out); }, 1};
  });
}

// The folders and files the environment names, as the options' values until
// the command line gives others: read as UTF-8 on every system, where CLI11's
// own reading would take Windows' ANSI code page, which cannot hold every
// letter of a folder's name.
void PathsFromEnvironment(Options& options) {
  const std::string base = EnvironmentValue("LUMIREX_BASE_DIR").value_or("");
  options.call.baseDir = base;
  options.log.baseDir = base;
  options.outbox = EnvironmentValue("LUMIREX_OUTBOX").value_or("");
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
  auto parsed = app.get_subcommands();
  if (!parsed.empty())
    return "Run 'lumirex " + parsed.front()->get_name() + " --help' for its options.";
  return "Run 'lumirex --help' for the subcommands.";
}

// The argument with its bytes above ASCII as \xHH: it is not text the
// terminal can show as it stands.
std::string BytesShown(std::string_view argument) {
  std::string shown;
  for (unsigned char byte : argument) {
    if (byte < 0x80) {
      shown += static_cast<char>(byte);
    } else {
      static const char kHex[] = "0123456789abcdef";
      shown += {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
    }
  }
  return shown;
}

// What a person calls the argument at `index`: the option it is the value
// of, else its place on the command line.
std::string ArgumentName(int index, const char* const* argv) {
  const std::string_view argument = argv[index];
  if (argument.starts_with("--") && argument.find('=') != std::string_view::npos) {
    return std::string(argument.substr(0, argument.find('=')));
  }
  if (index > 1 && std::string_view(argv[index - 1]).starts_with("-")) return argv[index - 1];
  return "argument " + std::to_string(index);
}

// A UTF-8 host's texts must be UTF-8: an argument that is not would reach
// the service with "?" in place of its bytes, a CPF or a key other than the
// one typed.
void RequireArgumentsInEncoding(int argc, const char* const* argv) {
  if (!HostIsUtf8()) return;  // every byte is a Windows-1252 character
  for (int index = 1; index < argc; ++index) {
    const std::string_view argument = argv[index];
    const std::size_t bad = FirstInvalidUtf8(argument);
    if (bad == std::string_view::npos) continue;
    throw UsageError(ArgumentName(index, argv) + " (\"" + BytesShown(argument) +
                     "\") is not valid UTF-8 at byte " + std::to_string(bad + 1) +
                     ", the encoding of this locale: give it in UTF-8, or run with "
                     "--host-encoding windows-1252");
  }
}

// The subcommand prints JSON: its bytes must stay exactly as written.
bool PrintsJson(const Options& options) {
  return options.call.json || options.log.json || options.doctor.json;
}

}  // namespace

int RunApp(int argc, const char* const* argv, std::ostream& rawOut, std::ostream& rawErr) {
  // Service, database and host texts reach both streams: no control
  // character in them may act on the terminal.
  EscapingStream out(rawOut);
  EscapingStream err(rawErr);
  CLI::App app(kOverview, "lumirex");
  app.footer(kFooter);
  app.set_version_flag("--version", Version());
  app.require_subcommand(1);
  Context c{out, err, {}, {}};
  PathsFromEnvironment(c.o);
  for (auto add : {AddConsulta, AddValidation, AddSaleCommands, AddRawCall, AddSandbox, AddOutbox,
                   AddLog, AddDoctor, AddDemo}) {
    add(app, c);
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == 0) return app.exit(error, out, err);
    err << "lumirex: " << ParseErrorText(app, error, argc, argv) << '\n' << HelpHint(app) << '\n';
    return kExitUsage;
  }
  if (!c.action.run) {
    err << "lumirex: no subcommand given\n" << HelpHint(app) << '\n';
    return kExitUsage;
  }
  out.SetEscaping(!PrintsJson(c.o));
  try {
    UseHostEncoding(c.o.hostEncoding.empty() ? LocaleHostEncoding() : c.o.hostEncoding);
    RequireArgumentsInEncoding(argc, argv);
    return c.action.run();
  } catch (const UsageError& error) {
    err << "lumirex: " << error.what() << '\n' << HelpHint(app) << '\n';
    return kExitUsage;
  } catch (const std::exception& error) {
    err << "lumirex: " << error.what() << '\n';
    return c.action.failureStatus;
  }
}

}  // namespace lumirex::cli
