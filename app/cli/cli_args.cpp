// The command line of tarnwick-cli, read with CLI11.
#include <cctype>
#include <cstdio>
#include <string>

#include <CLI/CLI.hpp>

#include "app/cli/cli_options.h"
#include "app/cli/console_io.h"
#include "app/cli/exit_codes.h"
#include "tarnwick_version.h"

namespace {

const char kFooter[] =
    "Exit codes: 0 success, 1 internal error, 2 bad arguments or file, 3 cannot open port,\n"
    "4 device not found, 5 firmware too old, 6 download failed (power cycle, then retry),\n"
    "7 stopped (Ctrl+C, SIGTERM, SIGHUP, SIGQUIT), 8 bootloader failed (new firmware runs:\n"
    "do NOT power cycle), 9 serial port lost (check cable, adapter, power),\n"
    "10 version differs (verify: the running version is not the file's).\n"
    "doctor: 0 when nothing stands in the way, else the code of the first finding that does\n"
    "(3 the port cannot be opened, 4 the console does not answer, 5 its firmware is too old).";

template <typename T>
CLI::Option* AddSetting(CLI::App* app, const char* name, Setting<T>* setting, const char* help) {
  return app->add_option_function<T>(
      name,
      [setting](const T& v) {
        setting->set = true;
        setting->value = v;
      },
      help);
}

void AddOutputOptions(CLI::App* app, CliOptions* o) {
  app->add_flag("--json", o->json, "one JSON object per line for every event");
  app->add_option("--log", o->log, "write the trace to FILE (appended)")->type_name("FILE");
}

void AddConfigOption(CLI::App* app, CliOptions* o) {
  app->add_option("--config", o->config, "read settings from this fwdl.ini (nothing is written back)")
      ->type_name("FILE");
}

void AddTransferSettings(CLI::App* app, CliOptions* o) {
  AddSetting(app, "--dlstartdelay", &o->dlstartdelay,
             "seconds to wait for the status of a packet at offset 0 (default 45)")
      ->check(CLI::Range(1, 3600));
  AddSetting(app, "--dlnormaldelay", &o->dlnormaldelay,
             "seconds to wait for every other status and each acknowledgement (default 15)")
      ->check(CLI::Range(1, 3600));
  AddSetting(app, "--dlretry", &o->dlretry, "attempts per packet (default 10)")
      ->check(CLI::Range(1, 1000));
  AddSetting(app, "--fwattempts", &o->fwattempts,
             "firmware downloads before a reboot must show the new version (default 3)")
      ->check(CLI::Range(1, 100));
  AddSetting(app, "--writecmd", &o->writecmd,
             "the writecmd key: traced only; the product-data write (factory defaults) is fixed");
  AddSetting(app, "--linewaittime", &o->linewaittime, "ms, traced only (0 to 1000)")
      ->check(CLI::Range(0, 1000));
  AddSetting(app, "--charwaittime", &o->charwaittime, "ms, traced only (0 to 200)")
      ->check(CLI::Range(0, 200));
}

// Read on every open of the port, so probe takes it as download does.
void AddEventChar(CLI::App* app, CliOptions* o) {
  AddSetting(app, "--eventchar", &o->eventchar,
             "1: ask the USB adapter to send what it holds as soon as a \"*\" arrives (default 0)")
      ->check(CLI::Range(0, 1));
}

void AddSignature(CLI::App* app, CliOptions* o) {
  AddSetting(app, "--signature", &o->signature, "image header signature (default VRQ)");
}

void AddDigest(CLI::App* app, CliOptions* o) {
  app->add_option("--sha256", o->sha256,
                  "refuse the file unless its SHA-256 is this (64 hex digits); nothing is sent")
      ->type_name("HEX")
      ->check(
          [](const std::string& v) -> std::string {
            if (v.size() != 64) return "--sha256 wants 64 hex digits, got " + std::to_string(v.size());
            for (char c : v) {
              if (!isxdigit(static_cast<unsigned char>(c))) return "--sha256 wants hex digits only";
            }
            return "";
          },
          "");
}

// What a command line that did not parse asks for, as far as a refusal
// needs it: the subcommand (the first word that is not an option), whether
// it asked for --json, and the ports it named (for the label, or the
// summary of a many-ports download). Read from the words themselves, since
// the parser stops at the first error and may not have got to them.
CliOptions RefusalOptions(int argc, char** argv) {
  CliOptions o;
  int at = 1;
  for (; at < argc; ++at) {
    const std::string word = argv[at];
    if (word == "--") return o;
    if (word.empty() || word[0] != '-') {
      o.command = word;
      break;
    }
  }
  if (o.command != "download" && o.command != "probe" && o.command != "verify") {
    o.command.clear();
    return o;
  }
  const std::string portEq = "--port=";
  for (++at; at < argc; ++at) {
    const std::string word = argv[at];
    if (word == "--") break;
    if (word == "--json") o.json = true;
    if (word == "--port" && at + 1 < argc) {
      o.ports.push_back(argv[++at]);
    } else if (word.compare(0, portEq.size(), portEq) == 0) {
      o.ports.push_back(word.substr(portEq.size()));
    }
  }
  return o;
}

// Hidden: a sysfs tree of a test's own, for the port's adapter (and for
// doctor's findings) instead of /sys.
void AddAdapterRoot(CLI::App* app, CliOptions* o) {
  app->add_option_function<std::string>("--sys-root",
                                        [o](const std::string& v) {
                                          o->sysRoot = v;
                                          o->adapterRoot = v;
                                        })
      ->group("");
}

}  // namespace

int ParseCommandLine(int argc, char** argv, CliOptions* o) {
  CLI::App app{"Loads firmware into SAS expanders over serial lines, one or many at once."};
  app.name("tarnwick-cli");
  app.allow_windows_style_options(false);
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("tarnwick-cli ") + TARNWICK_VERSION_TEXT,
                       "print the program's version and exit");
  app.footer(kFooter);

  CLI::App* ports = app.add_subcommand("ports", "list the serial ports of this machine");
  ports->add_flag("--json", o->json, "one JSON object per port");
  ports->add_option("--sys-root", o->sysRoot)->group("");
  ports->add_option("--dev-root", o->devRoot)->group("");

  CLI::App* probe = app.add_subcommand("probe", "ask the firmware version running on a port");
  probe->add_option("--port", o->ports, "the port: /dev/ttyUSB0, a by-id path, COM3 or a number")
      ->type_name("PORT")
      ->expected(1);
  AddConfigOption(probe, o);
  AddEventChar(probe, o);
  AddOutputOptions(probe, o);
  AddAdapterRoot(probe, o);

  CLI::App* info = app.add_subcommand("info", "show an image file as the download sees it");
  info->add_option("file", o->file, "the image file")->required()->type_name("FILE");
  AddConfigOption(info, o);
  AddSignature(info, o);
  info->add_flag("--json", o->json, "the table as one JSON object");

  CLI::App* download = app.add_subcommand("download", "load an image file into one or many ports");
  download->add_option("--port", o->ports, "a port; give it once per enclosure to load many in parallel")
      ->type_name("PORT");
  download->add_option("--file", o->file, "the image file")->type_name("FILE");
  AddConfigOption(download, o);
  AddSignature(download, o);
  AddTransferSettings(download, o);
  AddEventChar(download, o);
  AddOutputOptions(download, o);
  download->add_flag("--quiet,-q", o->quiet, "print only the result");
  download->add_flag("--skip-if-current", o->skipIfCurrent,
                     "send nothing if the running version is the file's version record");
  download->add_flag("--allow-older", o->allowOlder,
                     "load a file whose version record is older than the running firmware");
  AddDigest(download, o);
  download->add_flag("--wait-go", o->waitGo)->group("");
  AddAdapterRoot(download, o);

  CLI::App* plan = app.add_subcommand(
      "plan", "what a download would do on each port; only the version is asked");
  plan->add_option("--port", o->ports, "a port; give it once per enclosure to ask many at once")
      ->type_name("PORT");
  plan->add_option("--file", o->file, "the image file")->type_name("FILE");
  AddConfigOption(plan, o);
  AddSignature(plan, o);
  AddEventChar(plan, o);
  AddOutputOptions(plan, o);
  plan->add_flag("--skip-if-current", o->skipIfCurrent,
                 "as download takes it: a port where the file is current would get nothing");
  plan->add_flag("--allow-older", o->allowOlder,
                 "as download takes it: an older file would be loaded, not refused");
  AddDigest(plan, o);

  CLI::App* verify =
      app.add_subcommand("verify", "exit 0 if an image file is current on a port, else 10 or 11");
  verify->add_option("--port", o->ports, "the port: /dev/ttyUSB0, a by-id path, COM3 or a number")
      ->type_name("PORT")
      ->expected(1);
  verify->add_option("--file", o->file, "the image file")->type_name("FILE");
  AddConfigOption(verify, o);
  AddSignature(verify, o);
  AddDigest(verify, o);
  AddOutputOptions(verify, o);
  AddAdapterRoot(verify, o);
  CLI::App* doctor = app.add_subcommand(
      "doctor", "what stands between this machine and a download, each with its remedy");
  doctor->add_option("--port", o->ports, "the port (default: every port `ports` lists)")
      ->type_name("PORT")
      ->expected(1);
  AddConfigOption(doctor, o);
  AddEventChar(doctor, o);
  doctor->add_flag("--json", o->json, "the findings as one JSON object");
  doctor->add_option("--log", o->log, "write the trace to FILE (appended)")->type_name("FILE");
  AddAdapterRoot(doctor, o);
  doctor->add_option("--dev-root", o->devRoot)->group("");
  doctor->add_option("--proc-root", o->procRoot)->group("");
  doctor->add_option("--udev-root", o->udevRoot)->group("");
  CLI::App* history =
      app.add_subcommand("history", "the downloads this machine made, oldest first");
  history->add_option("--port", o->ports, "only the downloads on this port (any of its names)")
      ->type_name("PORT")
      ->expected(1);
  history->add_flag("--json", o->json, "each download as the JSON line the history keeps");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    // With --json the refusal is the result line, as for every other one.
    const CliOptions asked = RefusalOptions(argc, argv);
    if (asked.json) return RefuseRun(asked, kExitBadInput, e.what());
    fprintf(stderr, "tarnwick-cli: %s (see tarnwick-cli --help)\n", e.what());
    return kExitBadInput;
  }

  for (CLI::App* sub : {ports, probe, info, download, plan, verify, doctor, history}) {
    if (sub->parsed()) o->command = sub->get_name();
  }
  return -1;
}

std::string OptionsConflict(const CliOptions& o) {
  if (o.json && o.quiet) return "--json and --quiet exclude each other";
  return "";
}

OutputStyle StyleFor(const CliOptions& o) {
  if (o.json) return OutputStyle::kJson;
  if (o.quiet) return OutputStyle::kQuiet;
  return StdoutIsTerminal() ? OutputStyle::kTerminal : OutputStyle::kPlain;
}

std::vector<std::string> ChildArguments(const CliOptions& o, const std::string& port,
                                        const std::string& log) {
  const bool plan = o.command == "plan";
  std::vector<std::string> args = {plan ? "plan" : "download", "--port", port, "--file", o.file,
                                   "--json"};
  // A plan sends nothing but the version question: no port waits for the others.
  if (!plan) args.push_back("--wait-go");
  auto add = [&args](const char* name, const std::string& value) {
    args.push_back(name);
    args.push_back(value);
  };
  if (!o.config.empty()) add("--config", o.config);
  if (!log.empty()) add("--log", log);
  if (o.skipIfCurrent) args.push_back("--skip-if-current");
  if (o.allowOlder) args.push_back("--allow-older");
  if (!o.sha256.empty()) add("--sha256", o.sha256);
  if (o.signature.set) add("--signature", o.signature.value);
  if (o.writecmd.set) add("--writecmd", o.writecmd.value);
  const struct {
    const char* name;
    const Setting<int32_t>& s;
  } numbers[] = {{"--dlstartdelay", o.dlstartdelay}, {"--dlnormaldelay", o.dlnormaldelay},
                 {"--dlretry", o.dlretry},           {"--fwattempts", o.fwattempts},
                 {"--linewaittime", o.linewaittime}, {"--charwaittime", o.charwaittime},
                 {"--eventchar", o.eventchar}};
  for (const auto& n : numbers) {
    if (n.s.set) add(n.name, std::to_string(n.s.value));
  }
  return args;
}
