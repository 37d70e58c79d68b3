#include "station/cli/script_player.h"

#include <array>
#include <cstdio>
#include <cstdlib>

#include "fx60link.h"
#include "station/idvbench_dlg.h"

namespace fx60::station {

namespace {

constexpr int kDefaultCaptureThreshold = 60;
constexpr int kFeatureTemplateBytes = 512;

constexpr const char* kWindowUsage =
    "usage: IdvBench [--script \"COMMAND; COMMAND...\"] [--timeout SECONDS] [--screenshot FILE.png] [--trace]\n"
    "\n"
    "The identity verification station. With --script the commands run in turn and\n"
    "the program ends after the last one:\n"
    "  serial collect compare verify clear exit   press that button\n"
    "  enter, about                                the Enter key; the about box\n"
    "  ok                                          OK on every open message box\n"
    "  wait-status TEXT                            wait until the status line contains TEXT\n"
    "  wait-idle                                   wait until no workflow runs\n"
    "  sleep MS                                    wait MS milliseconds\n"
    "  capture-dialog [QUALITY]                    the library's capture dialog (threshold 60)\n"
    "  screenshot FILE.png                         a picture of the windows\n"
    "A wait longer than --timeout (default 60 s) ends the program with exit code 1.\n"
    "--screenshot writes a picture of the windows once the script is done (or at\n"
    "once) and ends the program. --trace prints each command and how long each wait\n"
    "took.\n";

}  // namespace

int parseWindowArguments(const std::vector<std::string>& arguments, WindowArguments& parsed,
                         std::string_view usageNote) {
  for (size_t i = 0; i < arguments.size(); ++i) {
    std::string error;
    const bool hasValue = i + 1 < arguments.size();
    if (arguments[i] == "--script" && hasValue) {
      parsed.script = parseScript(arguments[++i], error);
      if (!parsed.script) {
        std::fprintf(stderr, "IdvBench: %s\n", error.c_str());
        return 2;
      }
    } else if (arguments[i] == "--timeout" && hasValue) {
      const auto limit = parseWaitLimitSeconds(arguments[++i]);
      if (!limit) {
        std::fprintf(stderr, "IdvBench: --timeout takes whole seconds from 1 to %d, not '%s'\n", kMaxWaitLimitSeconds,
                     arguments[i].c_str());
        return 2;
      }
      parsed.timeoutSeconds = *limit;
    } else if (arguments[i] == "--screenshot" && hasValue) {
      parsed.screenshot = arguments[++i];
    } else if (arguments[i] == "--trace") {
      parsed.trace = true;
    } else {
      const bool help = arguments[i] == "--help" || arguments[i] == "-h";
      std::FILE* out = help ? stdout : stderr;
      std::fputs(kWindowUsage, out);
      std::fwrite(usageNote.data(), 1, usageNote.size(), out);
      return help ? -1 : 2;
    }
  }
  return 0;
}

ScriptPlayer::Options scriptOptions(WindowArguments arguments) {
  ScriptPlayer::Options options;
  options.scripted = arguments.script.has_value();
  if (arguments.script) options.commands = std::move(*arguments.script);
  options.finalScreenshot = std::move(arguments.screenshot);
  options.waitLimit = std::chrono::seconds(arguments.timeoutSeconds);
  options.trace = arguments.trace;
  return options;
}

ScriptPlayer::ScriptPlayer(CIdvBenchDlg* presenter, Options options, Hooks hooks)
    : presenter_(presenter),
      options_(std::move(options)),
      hooks_(std::move(hooks)),
      pending_(options_.commands.begin(), options_.commands.end()),
      waits_(hooks_.statusText, [this] { return presenter_ != nullptr && presenter_->workflowRunning(); },
             options_.waitLimit) {}

ScriptPlayer::~ScriptPlayer() {
  if (captureDialog_.joinable()) captureDialog_.join();
}

bool ScriptPlayer::step() {
  if (finished_ || hooks_.windowEnded()) return true;
  switch (waits_.poll()) {
    case ScriptWaits::State::Waiting:
      return true;
    case ScriptWaits::State::TimedOut:
      std::fprintf(stderr, "IdvBench: timed out waiting%s%s\n", waits_.awaited().empty() ? "" : " for ",
                   waits_.awaited().c_str());
      exitCode_ = 1;
      endProgram();
      return true;
    case ScriptWaits::State::Ended:
      if (options_.trace) {
        const auto took =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - lastPress_);
        std::printf("# wait over, %lld ms after the last command\n", static_cast<long long>(took.count()));
        std::fflush(stdout);
      }
      break;
    case ScriptWaits::State::None:
      break;
  }
  if (!pending_.empty()) {
    const Command command = pending_.front();
    pending_.pop_front();
    play(command);
    return true;
  }
  if (!options_.finalScreenshot.empty()) {
    takeScreenshot(options_.finalScreenshot);
    endProgram();
  } else if (options_.scripted) {
    endProgram();
  } else {
    return false;  // nothing more to do: the operator has the window
  }
  return true;
}

void ScriptPlayer::play(const Command& command) {
  const bool isWait = command.kind == Command::Kind::WaitStatus || command.kind == Command::Kind::WaitIdle ||
                      command.kind == Command::Kind::Sleep;
  if (!isWait) lastPress_ = std::chrono::steady_clock::now();
  if (options_.trace) {
    std::printf("# %s\n", command.line.c_str());
    std::fflush(stdout);
  }
  if (waits_.start(command)) return;
  switch (command.kind) {
    case Command::Kind::Ok: hooks_.dismissMessageBoxes(); return;
    case Command::Kind::About: hooks_.showAbout(); return;
    case Command::Kind::CaptureDialog: openCaptureDialog(command.argument); return;
    case Command::Kind::Screenshot: takeScreenshot(command.argument); return;
    default: break;
  }
  if (presenter_ != nullptr) pressButton(*presenter_, command);
}

void ScriptPlayer::openCaptureDialog(const std::string& threshold) {
  if (!captureDialogDone_.load()) return;  // one at a time
  if (captureDialog_.joinable()) captureDialog_.join();
  const int quality = threshold.empty() ? kDefaultCaptureThreshold : std::atoi(threshold.c_str());
  captureDialogDone_.store(false);
  // From a thread of its own, as a workflow would: the library shows the dialog
  // and this thread waits for its end.
  captureDialog_ = std::thread([this, quality] {
    std::array<unsigned char, kFeatureTemplateBytes> featureTemplate{};
    const int status = zzExtractFingerprint(0, 0, featureTemplate.data(), quality, 1);
    std::printf("capture dialog: %d\n", status);
    std::fflush(stdout);
    captureDialogDone_.store(true);
  });
}

void ScriptPlayer::takeScreenshot(const std::string& file) {
  std::string error;
  if (hooks_.saveScreenshot(file, error)) {
    if (options_.trace) {
      std::printf("# screenshot %s\n", file.c_str());
      std::fflush(stdout);
    }
    return;
  }
  std::fprintf(stderr, "IdvBench: cannot write the screenshot %s: %s\n", file.c_str(), error.c_str());
  exitCode_ = 1;
}

void ScriptPlayer::endProgram() {
  finished_ = true;
  if (presenter_ != nullptr) {
    presenter_->OnCancel();
  } else {
    hooks_.closeWindow();
  }
}

}  // namespace fx60::station
