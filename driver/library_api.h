// The eight operations of the library, as C++ functions returning the status codes of
// fx60link.h (the layers below speak in named results; public_codes.h turns those
// into these codes). exports.cpp wraps them in the C interface; tests and the tool
// call them directly.
#pragma once

#include <cstdint>

namespace fx60::api {

inline constexpr char kDriverVersion[] = "NORVEX FX-60 Driver V2.0.0.20170621";
inline constexpr char kAlgorithmVersionFormat[] = "%s 20170608";
inline constexpr char kAlgorithmVersionTag[] = "1401";

// Score in hundredths that each security level 1..5 needs.
inline constexpr int SecurityLevelThresholds[6] = {0, 14, 23, 34, 48, 61};
inline constexpr int kDefaultSecurityLevel = 3;

int clampSecurityLevel(int level);

// The decision of zzMatchFingerprint for a matcher status and score:
// 0 match, -1 no match, -2 invalid template.
int matchDecision(int matchStatus, float score, int level);

int getDriverVersion(char* buffer);
int getDeviceVersion(int deviceIndex, char* buffer);
int detectFingerprint(int deviceIndex);
int captureFingerprint(int deviceIndex, uint8_t* image, int timeoutMs, int waitLift);
int cancelCapture(int deviceIndex);
int getAlgVersion(char* buffer);
int extractFingerprint(int deviceIndex, int timeoutMs, uint8_t* templateOut, int qualityThreshold,
                       int showDialog);
int matchFingerprint(const uint8_t* templateA, const uint8_t* templateB, int level);

}  // namespace fx60::api
