#include "cli/options.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <memory>

#include "fleet/device_list.h"

namespace hj5::cli {
namespace {

using fleet::ParsePort;

constexpr const char* kUsage = R"(Usage: hj5-update [options] FILE.xml
       hj5-update --check [options] [FILE.xml]
       hj5-update --restore [options]
       hj5-update --report DIR

Puts FILE.xml onto HJ-5 devices and runs their update, step for step and
text for text as the form does: identity check, FTP on, update mark,
restart, upload to C:\www\, FTP off, device code restored, restart.
)";

constexpr const char* kFooter = R"(
The password of the devices whose line gives none: the text of
--password-file (one trailing newline dropped); else the environment
variable HJ5_PASSWORD; else a prompt without echo when standard input is a
terminal. It is never an argument.

The devices file is CSV with a header line naming its columns: address
(required), login_id, password, http_port, ftp_port (optional, else the
options above). Every address is looked up once, before any traffic, and
used for the whole run; two lines that reach the same address and HTTP or
FTP port (127.0.0.1, 127.1 and localhost, say) are refused. A file that
group or others may read is warned about.

A rollout: with --canary N the first N devices of the list are updated
first, and the rest start only once all of them completed; a canary that
fails ends the run without touching any other device. --max-failures N
(or P%, of the devices in the run, rounded down) counts the failures of
the whole run, canaries included, not per batch: once more than N devices
have failed, no further device starts, and the running ones finish. A run
ended so exits 3.

Audit and repair: --check tells, per device, whether an earlier run left it
in update (its identity reply holds UPDATE and not the device code).
--restore runs, on each device found so, the update's own failure tail
without an upload: FTP off, the device code back into user9, restart and
wait; a device not left in update gets only the identity query.

Before any traffic the form's checks run: the XML check and the file name,
the address, login ID and password (lengths and bytes). A refusal exits 2
with the form's text on standard error; no device is touched.

Output: on a terminal one live line per running device and a summary
table; otherwise one line per event. A reader that stalls (a pipe nobody
reads, Ctrl-S) never holds a device: the progress lines, restart ticks and
upload byte counts it cannot take are dropped and counted ("N events not
shown"); every text and every device's end is kept.

The page: with --web the run is served as a page while it lasts (the
head with the counts, the rate and the estimated end, a chart, every device
in a table to sort, filter and search, each device's events, and the two
controls "Stop starting devices" and "Stop and restore"). Every request
needs the token of the printed address; a page of another origin or name
is refused. With --results the run's folder also gets report.html at the
run's end: the same page as one file, readable offline; --report DIR
writes it again from any run folder.

A maintenance window: with --window 01:00-05:00 devices start only while
the machine's local time is in it (22:00-02:00 crosses midnight). When it
closes no further device starts and the running ones finish (an update is
never cut); the summary says "Stopped by the window" with the devices not
started and how long the running ones overran the close, and the run exits
5. not-started.csv and --resume carry the rest to the next window, where
the canary and the failure budget count over the whole rollout (each
device once, by its latest line). Begun while the window is closed, a run
is refused, or with --wait-for-window waits for it (a stop signal ends the
wait).

Stopping: Ctrl-C once: no further device starts, running updates finish.
Ctrl-C again, SIGTERM or SIGHUP: every running update stops what it is
doing (an upload is aborted), and each device that may be left with FTP on
or user9 UPDATE runs the failure tail (FTP off, device code back, restart,
wait); a device not yet switched is left as it is. Ctrl-C once more (or
SIGTERM during that) abandons at once. The summary lists the devices that
may be left in update and those that may hold part of the file.

Exit status: 0 when every device's update completed (its last box said
so) and the device answered after its last restart (with --check: every
device was accepted and none is left in update; with --restore: none is
left in update); 1 otherwise; 2 refused input; 3 the canary or the failure
budget ended the run; 4 the run's folder is incomplete (a journal line or a
result file could not be written: no space, an I/O error; no further device
was started; 4 wins over 1 and 3); 5 the window closed with devices not
started, and none failed (--resume in the next window goes on); 130
interrupted by Ctrl-C, 143 by SIGTERM, 129 by SIGHUP.)";

// Our usage lines in place of CLI11's.
class Formatter final : public CLI::Formatter {
 public:
  std::string make_usage(const CLI::App*, std::string) const override {
    return kUsage;
  }
  // A flag's value when given bare ("--verify{size}") is not its name.
  std::string make_option_name(const CLI::Option* option,
                               bool positional) const override {
    std::string name = CLI::Formatter::make_option_name(option, positional);
    const std::size_t brace = name.find('{');
    if (brace != std::string::npos)
      name.erase(brace, name.find('}') - brace + 1);
    return name;
  }
};

// The options as CLI11 fills them, before they are read into Options.
struct Raw {
  std::string address;
  std::string http_port;
  std::string ftp_port;
  std::string login_id;
  std::string password;
  std::string password_file;
  std::string devices_file;
  std::size_t jobs = Options::kDefaultJobs;
  std::size_t canary = 0;
  std::string max_failures;
  std::size_t max_uploads = 0;
  std::string verify;
  std::string results;
  std::string resume;
  std::string web;
  std::string report;
  std::string window;
  bool wait_for_window = false;
  std::vector<std::string> files;
  bool check = false;
  bool restore = false;
  bool json = false;
};

const CLI::Validator& BudgetCheck() {
  static const CLI::Validator check(
      [](std::string& text) {
        return ParseFailureBudget(text)
                   ? std::string()
                   : "not a count or a percentage (0% to 100%): " + text;
      },
      "");
  return check;
}

// A port as typed: decimal digits only, 1 to 65535.
const CLI::Validator& PortCheck() {
  static const CLI::Validator check(
      [](std::string& text) {
        return ParsePort(text) ? std::string()
                               : "not a port (1-65535): " + text;
      },
      "PORT");
  return check;
}

void Describe(CLI::App& app, Raw& raw) {
  app.formatter(std::make_shared<Formatter>());
  app.footer(kFooter);
  app.set_help_flag("-h,--help", "this text");
  app.set_version_flag("--version", "", "the version of hj5-update");
  app.get_formatter()->column_width(24);
  const std::string one = "One device";
  app.add_option("--address", raw.address,
                 "the device; PORT is its HTTP port (80);\n"
                 "IPv6 in brackets: [fd00::5]:8080")
      ->type_name("HOST[:PORT]")
      ->group(one);
  app.add_option("--http-port", raw.http_port,
                 "the HTTP port when --address gives none (80)")
      ->check(CLI::Validator(PortCheck()).description(""))
      ->type_name("N")
      ->group(one);
  app.add_option("--ftp-port", raw.ftp_port, "the device's FTP port (21)")
      ->check(CLI::Validator(PortCheck()).description(""))
      ->type_name("N")
      ->group(one);
  app.add_option("--id", raw.login_id, "the login ID")
      ->type_name("ID")
      ->group(one);
  app.add_option("--password-file", raw.password_file,
                 "the password (see below)")
      ->type_name("FILE")
      ->group(one);
  // Only to refuse it with a reason.
  app.add_option("--password", raw.password)->expected(0, 1)->group("");
  const std::string many = "Many devices";
  app.add_option("--devices", raw.devices_file,
                 "a CSV file of devices (see below)")
      ->type_name("FILE")
      ->group(many);
  app.add_option("--jobs", raw.jobs,
                 "devices updated at a time (16); fewer when\n"
                 "the descriptor limit cannot carry N")
      ->check(CLI::Range(std::size_t{1}, Options::kMaxJobs).description(""))
      ->type_name("N")
      ->group(many);
  app.add_option("--canary", raw.canary,
                 "the first N devices first; the rest only once\n"
                 "they all completed")
      ->check(CLI::Range(std::size_t{1}, std::size_t{1} << 20).description(""))
      ->type_name("N")
      ->group(many);
  app.add_option("--max-failures", raw.max_failures,
                 "no further device starts once more than N\n"
                 "(or P% of the devices) failed, over the whole run")
      ->check(BudgetCheck())
      ->type_name("N|P%")
      ->group(many);
  app.add_option("--max-uploads", raw.max_uploads,
                 "at most N uploads at a time, whatever --jobs")
      ->check(CLI::Range(std::size_t{1}, Options::kMaxJobs).description(""))
      ->type_name("N")
      ->group(many);
  app.add_option("--window", raw.window,
                 "devices start only while the local time is\n"
                 "in it (it may cross midnight); when it closes\n"
                 "the running ones finish and the rest is left\n"
                 "for --resume; exit 5")
      ->check(CLI::Validator(
          [](std::string& text) {
            std::string error;
            return fleet::ParseWindow(text, &error) ? std::string() : error;
          },
          ""))
      ->type_name("HH:MM-HH:MM")
      ->group(many);
  app.add_flag("--wait-for-window", raw.wait_for_window,
               "begun while the window is closed, wait for it\n"
               "(else refused)")
      ->group(many);
  const std::string results = "Results";
  app.add_option("--results", raw.results,
                 "the run's folder: journal, logs, failed.csv,\n"
                 "not-started.csv, summary.json, junit.xml")
      ->type_name("DIR")
      ->group(results);
  app.add_option("--resume", raw.resume,
                 "runs the list again into DIR, skipping the\n"
                 "devices its journal says completed this file")
      ->type_name("DIR")
      ->group(results);
  // A flag that takes a value only after "=": a bare --verify never takes
  // the XML file for its value.
  app.add_flag("--verify{size}", raw.verify,
               "reads back the stored file's size (SIZE), or\n"
               "with =content the file itself (RETR)")
      ->check(CLI::IsMember({"size", "content"}).description(""))
      ->option_text("[=content]")
      ->group(results);
  const std::string watch = "Watching a run";
  app.add_option("--web", raw.web,
                 "serve the run's live page on PORT (127.0.0.1\n"
                 "unless ADDR is given; 0: a free port) and print\n"
                 "its address, with its token, on standard error")
      ->type_name("[ADDR:]PORT")
      ->group(watch);
  app.add_option("--report", raw.report,
                 "write DIR/report.html from the run folder DIR\n"
                 "(any run, a killed one too) and end")
      ->type_name("DIR")
      ->group(watch);
  const std::string other = "Other";
  app.add_flag("--check", raw.check,
               "only the identity check on each device;\n"
               "nothing is changed on it")
      ->group(other);
  app.add_flag("--restore", raw.restore,
               "repair each device found left in update:\n"
               "FTP off, device code back, restart; no file")
      ->group(other);
  app.add_flag("--json", raw.json,
               "one JSON object a line for each event (device,\n"
               "time, kind, text, cause), then a summary object")
      ->group(other);
  app.add_option("FILE.xml", raw.files)->group("");
}

bool Fail(std::string* error, std::string text) {
  *error = std::move(text);
  return false;
}

// What CLI11 leaves to check: the combinations.
bool Take(const CLI::App& app, const Raw& raw, std::size_t args_count,
          Options& options, std::string* error) {
  if (app.count("--password") > 0) {
    return Fail(error,
                "--password: a password on the command line can be read by "
                "other users; use --password-file or HJ5_PASSWORD");
  }
  if (raw.files.size() > 1)
    return Fail(error, "more than one XML file given: " + raw.files[1]);
  if (raw.check && raw.restore)
    return Fail(error, "give --check or --restore, not both");
  if (raw.check) options.mode = RunMode::kCheck;
  if (raw.restore) options.mode = RunMode::kRestore;
  options.json = raw.json;
  options.canary = raw.canary;
  if (app.count("--max-failures"))
    options.max_failures = ParseFailureBudget(raw.max_failures);
  options.max_uploads = raw.max_uploads;
  if (app.count("--verify")) {
    options.verify =
        raw.verify == "content" ? FtpVerify::kContent : FtpVerify::kSize;
  }
  if (app.count("--results") && app.count("--resume"))
    return Fail(error, "give --results or --resume, not both");
  if (app.count("--results")) options.results_dir = raw.results;
  if (app.count("--resume")) {
    options.results_dir = raw.resume;
    options.resume = true;
  }
  options.address = raw.address;
  options.jobs = raw.jobs;
  if (app.count("--http-port")) options.http_port = ParsePort(raw.http_port);
  if (app.count("--ftp-port")) options.ftp_port = ParsePort(raw.ftp_port);
  if (app.count("--id")) options.login_id = raw.login_id;
  if (app.count("--password-file")) options.password_file = raw.password_file;
  if (app.count("--devices")) options.devices_file = raw.devices_file;
  if (!raw.files.empty()) options.xml_file = raw.files.front();
  if (app.count("--web")) options.web = raw.web;
  if (app.count("--window")) {
    std::string ignored;
    options.window = fleet::ParseWindow(raw.window, &ignored);
  }
  options.wait_for_window = raw.wait_for_window;
  if (options.wait_for_window && !options.window)
    return Fail(error, "--wait-for-window needs --window");
  if (app.count("--report")) {
    if (args_count > 2)
      return Fail(error, "--report DIR takes no other option or file");
    options.report_dir = raw.report;
    return true;
  }
  if (options.address.empty() == !options.devices_file)
    return Fail(error, "give either --address or --devices");
  if (!options.xml_file && options.mode == RunMode::kUpdate)
    return Fail(error, "no XML file given");
  if (options.xml_file && options.mode == RunMode::kRestore)
    return Fail(error, "--restore sends no file: " + *options.xml_file);
  if (options.resume && options.mode != RunMode::kUpdate)
    return Fail(error, "--resume goes on with an update");
  return true;
}

}  // namespace

std::optional<FailureBudget> ParseFailureBudget(std::string_view text) {
  FailureBudget budget;
  budget.is_percent = text.ends_with('%');
  if (budget.is_percent) text.remove_suffix(1);
  if (text.empty() || text.size() > 9) return std::nullopt;
  std::size_t dots = 0;
  for (char c : text) {
    dots += c == '.';
    if ((c < '0' || c > '9') && c != '.') return std::nullopt;
  }
  if (dots > (budget.is_percent ? 1 : 0) || text.front() == '.' ||
      text.back() == '.')
    return std::nullopt;
  double value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  if (budget.is_percent) {
    if (value > 100) return std::nullopt;
    budget.percent = value;
  } else {
    budget.count = static_cast<std::size_t>(value);
  }
  return budget;
}

std::optional<Options> ParseOptions(const std::vector<std::string>& args,
                                    std::string* error) {
  CLI::App app;
  Raw raw;
  Describe(app, raw);
  // CLI11 takes the arguments last to first.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  Options options;
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    options.help = true;
    return options;
  } catch (const CLI::CallForVersion&) {
    options.version = true;
    return options;
  } catch (const CLI::ParseError& refused) {
    *error = refused.what();
    return std::nullopt;
  }
  if (!Take(app, raw, args.size(), options, error)) return std::nullopt;
  return options;
}

std::string HelpText() {
  CLI::App app("", "hj5-update");
  Raw raw;
  Describe(app, raw);
  return app.help("", CLI::AppFormatMode::Normal) + "\n";
}

}  // namespace hj5::cli
