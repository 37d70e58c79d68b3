#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/posix/sysfs.h"

namespace fx60::platform::os {
namespace {

namespace fs = std::filesystem;

TEST(Sysfs, NumberedEntriesComeInNumericOrderAndOthersAreIgnored) {
  const fs::path dir = fs::temp_directory_path() / ("fx60-sysfs-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  for (const char* name : {"sg10", "sg2", "sg", "sgx", "sg1a", "hidraw0", "sg0", "sg99999999999"})
    fs::create_directory(dir / name);
  EXPECT_EQ(numberedEntries(dir, "sg"), (std::vector<std::string>{"sg0", "sg2", "sg10"}));
  EXPECT_EQ(numberedEntries(dir, "hidraw"), std::vector<std::string>{"hidraw0"});
  EXPECT_TRUE(numberedEntries(dir / "missing", "sg").empty());

  std::ofstream(dir / "type") << "5\n";
  EXPECT_EQ(readTextFile(dir / "type"), "5\n");
  EXPECT_FALSE(readTextFile(dir / "absent"));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace fx60::platform::os
