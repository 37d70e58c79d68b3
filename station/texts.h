// Every text the station shows of its own, in UTF-8, and the ids of the main
// dialog's controls.
#pragma once

#include <string_view>

namespace fx60::station {

namespace texts {

inline constexpr std::string_view kProgramName = "IdvBench";

// Message boxes.
inline constexpr std::string_view kAlreadyRunning = "测试软件已启动";
inline constexpr std::string_view kWarningCaption = "警告";
inline constexpr std::string_view kLibraryLoadFailed = "加载动态库失败";
inline constexpr std::string_view kSerialQueryFailed = "查询序列号失败";
inline constexpr std::string_view kReaderNotConnected = "身份证阅读器机具未连接";
inline constexpr std::string_view kReaderLost = "身份证阅读器机具掉线";
inline constexpr std::string_view kCompareFailed = "比对失败";
inline constexpr std::string_view kVerifyFailed = "验证失败";

// Status line.
inline constexpr std::string_view kStatusReaderConnected = "提示：身份证阅读器机具连接成功";
inline constexpr std::string_view kStatusReaderNotFound = "提示：身份证阅读器机具连接失败";
inline constexpr std::string_view kStatusSerialQueryFailed = "提示：查询序列号失败";
inline constexpr std::string_view kStatusPlaceCard = "提示：请放入身份证";
inline constexpr std::string_view kStatusPlaceFinger = "提示：请录入指纹";
inline constexpr std::string_view kStatusPlaceFingerAgain = "提示：请再次录入指纹";
inline constexpr std::string_view kStatusCompareSucceeded = "提示：比对成功";
inline constexpr std::string_view kStatusCompareFailed = "提示：比对失败";
inline constexpr std::string_view kStatusVerifySucceeded = "提示：验证成功";
inline constexpr std::string_view kStatusVerifyFailed = "提示：验证失败";
inline constexpr std::string_view kStatusReaderLost = "提示：身份证阅读器机具掉线";

// Button captions.
inline constexpr std::string_view kSerialButton = "查询序列号";
inline constexpr std::string_view kCollectIdle = "信息采集";
inline constexpr std::string_view kCollectRunning = "暂停采集";
inline constexpr std::string_view kCompareIdle = "指纹比对";
inline constexpr std::string_view kCompareRunning = "暂停比对";
inline constexpr std::string_view kVerifyIdle = "身份验证";
inline constexpr std::string_view kVerifyRunning = "暂停验证";
inline constexpr std::string_view kClearButton = "清除信息";
inline constexpr std::string_view kExitButton = "退出程序";

// The about box.
inline constexpr std::string_view kAboutCaption = "关于 IdvBench";
inline constexpr std::string_view kAboutVersion = "IdvBench 1.0 版";
inline constexpr std::string_view kAboutNotice = "居民身份证指纹核验工作站";
inline constexpr std::string_view kAboutMenuItem = "关于 IdvBench(&A)...";

}  // namespace texts

// Control ids of the main dialog.
enum class ControlId : int {
  Name = 1000,
  Sex = 1001,
  Nation = 1002,
  BirthDate = 1003,
  Address = 1004,
  IdNumber = 1005,
  Authority = 1006,
  Validity = 1007,
  Photo = 1009,
  Fingerprint = 1011,
  SerialButton = 1016,
  Status = 1017,
  CollectButton = 1018,
  CompareButton = 3,
  VerifyButton = 4,
  ClearButton = 1042,
  ExitButton = 2,
};

}  // namespace fx60::station
