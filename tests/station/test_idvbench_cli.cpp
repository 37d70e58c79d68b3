// idvbench-cli end to end: the program, copied into a station folder of its own
// with the stand-in libraries, against the virtual card reader and the simulated
// fingerprint module.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "platform/process_services.h"
#include "tests/station/presenter_fixture.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#endif

namespace fx60::station {
namespace {

using namespace fx60::station::testing;

const auto* const kFlags = ::testing::AddGlobalTestEnvironment(new PrivateFlagsEnvironment);

struct CliRun {
  int exitCode;
  std::string output;
};

class IdvBenchCli : public PresenterTest {
 protected:
  void SetUp() override {
    PresenterTest::SetUp();
    if (IsSkipped()) return;
    station_ = programDir() / "station";
    fs::create_directories(station_);
    // A copy, so that the program's own directory is this folder.
    fs::copy_file(fs::path(FX60_STATION_DIR) / kProgram, station_ / kProgram);
    for (const char* library : {"UniToGBK.dll", "WltRS.dll", "ID_FprCap.dll", "ID_Fpr.dll"})
      placeStationLibrary(library, station_);
#ifdef _WIN32
    placeStationLibrary("FX60Link.dll", station_);
#endif
    ts::setEnvironment("XDG_RUNTIME_DIR", programDir().string().c_str());
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // A sanitizer's dlopen runs from the sanitizer's library, whose run path
    // lacks the program's $ORIGIN; the program's own folder is named instead.
    ts::setEnvironment("LD_LIBRARY_PATH", station_.c_str());
#endif
  }

  void TearDown() override {
    ts::setEnvironment("XDG_RUNTIME_DIR", nullptr);
    ts::setEnvironment("LD_LIBRARY_PATH", nullptr);
    PresenterTest::TearDown();
  }

  void addCardReaderLibrary() { placeStationLibrary("sdtapi.dll", station_); }

#ifdef _WIN32
  static constexpr const char* kProgram = "idvbench-cli.exe";

  // Runs the program with these arguments (UTF-8) and its standard input from a
  // pipe; every run ends within the time given or is ended.
  CliRun run(const std::vector<std::string>& arguments, const std::string& input = "", int timeoutMs = 30000) {
    const fs::path out = programDir() / "stdout.txt";
    std::wstring commandLine = L"\"" + (station_ / kProgram).wstring() + L"\"";
    for (const auto& argument : arguments) commandLine += L" " + quotedArgument(wide(argument));
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE inputRead = nullptr, inputWrite = nullptr;
    if (!CreatePipe(&inputRead, &inputWrite, &inherited, 0)) return {-1, "no pipe"};
    SetHandleInformation(inputWrite, HANDLE_FLAG_INHERIT, 0);
    const HANDLE output = CreateFileW(out.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inputRead;
    startup.hStdOutput = output;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    const bool started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                        &startup, &process);
    CloseHandle(inputRead);
    CloseHandle(output);
    if (!started) {
      CloseHandle(inputWrite);
      return {-1, "start failed"};
    }
    DWORD written = 0;
    WriteFile(inputWrite, input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
    CloseHandle(inputWrite);  // the end of the input
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
      TerminateProcess(process.hProcess, 255);
      WaitForSingleObject(process.hProcess, INFINITE);
    } else {
      GetExitCodeProcess(process.hProcess, &code);
    }
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    std::ifstream text(out, std::ios::binary);
    std::stringstream collected;
    collected << text.rdbuf();
    std::string lines = collected.str();  // a Windows text stream ends its lines with \r\n
    lines.erase(std::remove(lines.begin(), lines.end(), '\r'), lines.end());
    return {static_cast<int>(code), lines};
  }

  static std::wstring wide(const std::string& utf8) {
    std::wstring text(utf8.size(), L'\0');
    text.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(),
                                    static_cast<int>(text.size())));
    return text;
  }

  // One argument as the C runtime splits the command line (no argument here
  // holds quotes or trailing backslashes).
  static std::wstring quotedArgument(const std::wstring& argument) { return L"\"" + argument + L"\""; }
#else
  static constexpr const char* kProgram = "idvbench-cli";

  // Runs the program with these arguments and standard input; every run ends
  // within the time given or is killed.
  CliRun run(const std::vector<std::string>& arguments, const std::string& input = "", int timeoutMs = 30000) {
    const fs::path in = programDir() / "stdin.txt", out = programDir() / "stdout.txt";
    std::ofstream(in) << input;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> args{(station_ / kProgram).string()};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return {-1, "spawn failed"};
    const int code = fx60::sim::testing::waitForExit(pid, timeoutMs);
    std::ifstream output(out);
    std::stringstream text;
    text << output.rdbuf();
    return {code, text.str()};
  }
#endif

  fs::path station_;
};

bool has(const std::string& output, const std::string& line) { return output.find(line + "\n") != std::string::npos; }

TEST_F(IdvBenchCli, VerifiesTheCardHolderAndRejectsAnotherFinger) {
  REQUIRE_FINGER_IMAGES();
  addCardReaderLibrary();
  startReader({"--card", makeCard("holder.card", {{0, 1}, {0, 3}}).string()});
  startFingerModuleWith({{0, 2}});
  const CliRun holder = run({"--script", "verify; wait-status 提示：验证成功; exit"});
  EXPECT_EQ(holder.exitCode, 0) << holder.output;
  EXPECT_TRUE(has(holder.output, "status: 提示：身份证阅读器机具连接成功")) << holder.output;
  EXPECT_TRUE(has(holder.output, "field 1000 姓名: 张三")) << holder.output;
  EXPECT_TRUE(has(holder.output, "photo: " + (station_ / "idcard_photo.bmp").string())) << holder.output;
  EXPECT_TRUE(has(holder.output, "status: 提示：验证成功")) << holder.output;
  EXPECT_TRUE(has(holder.output, "closed")) << holder.output;
  EXPECT_FALSE(fs::exists(station_ / "idcard_photo.bmp"));  // deleted at exit
  EXPECT_TRUE(fs::exists(station_ / "idcard_photo.wlt"));

  startFingerModuleWith({{1, 2}});
  const CliRun stranger = run({"--script", "verify; wait-idle; exit"});
  EXPECT_EQ(stranger.exitCode, 0);
  EXPECT_TRUE(has(stranger.output, "box: 验证失败 | caption: (default) | icon: stop | owner: none")) << stranger.output;
  EXPECT_TRUE(has(stranger.output, "status: 提示：验证失败")) << stranger.output;
}

TEST_F(IdvBenchCli, CommandsFromStandardInput) {
  addCardReaderLibrary();
  startReader({"--serial", "SAM-7"});
  const CliRun session = run({}, "serial\nenter\nbogus\nclear\n");  // the end of the input exits
  EXPECT_EQ(session.exitCode, 0);
  EXPECT_TRUE(has(session.output, "box: SAM-7 | caption: IdvBench | icon: none | owner: dialog")) << session.output;
  EXPECT_TRUE(has(session.output, "error: unknown command: bogus")) << session.output;
  EXPECT_TRUE(has(session.output, "closed")) << session.output;
}

TEST_F(IdvBenchCli, AWaitThatLastsTooLongFailsTheRun) {
  addCardReaderLibrary();
  startReader();
  const CliRun session = run({"--timeout", "1", "--script", "collect; wait-status 提示：验证成功"});
  EXPECT_EQ(session.exitCode, 1);
  EXPECT_TRUE(has(session.output, "error: timed out waiting for 提示：验证成功")) << session.output;
  EXPECT_TRUE(has(session.output, "closed")) << session.output;
  EXPECT_EQ(run({"--script", "nonsense"}).exitCode, 2);
  for (const char* limit : {"abc", "0", "-5", "1s", "99999999999"}) {
    EXPECT_EQ(run({"--timeout", limit, "--script", "exit"}).exitCode, 2) << limit;
  }
}

TEST_F(IdvBenchCli, WithoutTheCardReaderLibraryTheProgramEnds) {
  const CliRun session = run({"--script", "verify"});
  EXPECT_EQ(session.exitCode, 0);
  EXPECT_EQ(session.output, "box: 加载动态库失败 | caption: IdvBench | icon: stop | owner: dialog\nclosed\n");
}

TEST_F(IdvBenchCli, ASecondCopyEndsAtOnce) {
  addCardReaderLibrary();
  std::unique_ptr<platform::InstanceLock> firstCopy;
  ASSERT_EQ(platform::acquireInstanceLock("test6", programDir(), firstCopy), platform::InstanceLockResult::Acquired);
  const CliRun session = run({"--script", "verify"});
  EXPECT_EQ(session.exitCode, 0);
  EXPECT_EQ(session.output, "box: 测试软件已启动 | caption: 警告 | icon: none | owner: none\nclosed\n");
}

}  // namespace
}  // namespace fx60::station
