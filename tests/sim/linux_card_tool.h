// Virtual cards for the Windows tests, made by the Linux build's idcard tool (the
// card codec needs iconv and libjpeg, which the Windows build lacks): the holder
// of the Linux tests' sample card, the drawn portrait as the photo, and the
// fingerprint templates of images or 512-byte template files.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/sim/pattern_bytes.h"
#include "tests/sim/wine_process.h"

namespace fx60::sim::testing {

#ifdef IDCARD_TOOL_PROGRAM
inline constexpr const char* kIdcardToolProgram = IDCARD_TOOL_PROGRAM;
#else
inline constexpr const char* kIdcardToolProgram = "";
#endif

// Writes dir/name and returns the path (empty when the tool failed; its output is
// in dir/name.out). `fingers` are images (PGM) or template files (.tpl), two at most.
inline std::filesystem::path makeCardWithLinuxTool(const std::filesystem::path& dir, const std::string& name,
                                                   const std::vector<std::filesystem::path>& fingers) {
  const auto portrait = dir / "portrait.jpg";
  if (!std::filesystem::exists(portrait) &&
      runLinuxProgram({kIdcardToolProgram, "portrait", "-o", portrait.string(), "--variant", "0"}, dir, "portrait") != 0)
    return {};
  const auto card = dir / name;
  std::vector<std::string> args{kIdcardToolProgram, "make", "-o", card.string(),
                                "--name", "张三", "--sex", "1", "--nation", "01", "--birth", "19900307",
                                "--address", "北京市海淀区中关村大街1号", "--id-number", "11010819900307001X",
                                "--authority", "北京市公安局海淀分局", "--valid-from", "20200101",
                                "--valid-to", "20400101", "--photo", portrait.string()};
  for (const auto& finger : fingers) args.insert(args.end(), {"--finger", finger.string()});
  return runLinuxProgram(args, dir, name) == 0 ? card : std::filesystem::path();
}

// The 512-byte templates of a fingerprint block as files dir/name.N.tpl.
inline std::vector<std::filesystem::path> templateFiles(const std::filesystem::path& dir, const std::string& name,
                                                        const std::vector<uint8_t>& block) {
  std::vector<std::filesystem::path> files;
  for (size_t offset = 0; offset < block.size(); offset += 512) {
    files.push_back(dir / (name + "." + std::to_string(files.size()) + ".tpl"));
    std::ofstream(files.back(), std::ios::binary)
        .write(reinterpret_cast<const char*>(block.data() + offset), static_cast<std::streamsize>(std::min<size_t>(512, block.size() - offset)));
  }
  return files;
}

}  // namespace fx60::sim::testing
