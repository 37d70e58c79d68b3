// Runs idcard-sim, the virtual card reader, as a separate process for tests and
// drives it through its control socket. The card-reader library of the test
// process reaches it once connectLibrary() has set IDCARD_SIMULATOR.
//
//     CardReaderProcess reader(temporaryDir);
//     ASSERT_TRUE(reader.start({"--card", cardPath}));
//     reader.connectLibrary();
//     ... SDT_OpenPort(1001) ...
//     reader.unplug();
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/sim/simulator_process.h"

namespace fx60::sim::testing {

#ifdef IDCARD_SIM_PROGRAM
inline constexpr const char* kIdcardSimProgram = IDCARD_SIM_PROGRAM;
#else
inline constexpr const char* kIdcardSimProgram = "";
#endif

inline constexpr int kReaderPort = 1001;  // the port idcard-sim answers on unless told otherwise

class CardReaderProcess : public SimulatorProcess {
 public:
  explicit CardReaderProcess(std::filesystem::path dir, std::string name = "idcard-reader",
                             std::string program = kIdcardSimProgram)
      : SimulatorProcess(std::move(dir), std::move(name), std::move(program)) {}

  std::string socketPath() const { return cablePath(); }

  // Points the card-reader library loaded in this process at this reader.
  void connectLibrary() const { fx60::testing::test_sockets::setEnvironment("IDCARD_SIMULATOR", socketPath().c_str()); }

  // Each returns the control answer: "ok", "ok unreadable: ..." or "error ...".
  std::string place(const std::filesystem::path& card) const { return control("place " + simulatorPath(card)); }
  std::string remove() const { return control("remove"); }
  std::string unplug() const { return control("unplug"); }
  std::string plug() const { return control("plug"); }
  std::string failNext(int count) const { return control("fail-next " + std::to_string(count)); }
  std::string readDelay(int ms) const { return control("read-delay " + std::to_string(ms)); }
};

}  // namespace fx60::sim::testing
