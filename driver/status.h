// The results of the library's layers, by name. Each layer says what happened in its
// own words; only the exports turn them into the numbers of fx60link.h, through the
// table in public_codes.h.
#pragma once

#include <cstdint>

namespace fx60 {

// One transfer on an opened device: the WriteData and ReadData slots of a transport.
enum class IoStatus : uint8_t {
  Done,
  NoDevice,      // no device is open on the handle
  BadRequest,    // nothing to send, or a negative time-out
  TooLong,       // more data than one report holds
  Failed,        // the device refused or the transfer broke off
  TimedOut,      // nothing came back, or the transfer did not finish, in time
  Partial,       // fewer bytes went over than one report holds
  StillGarbled,  // every attempt failed with a transport (CRC-class) error
};

// Opening a device: the OpenDevice slot.
enum class OpenStatus : uint8_t {
  Opened,
  Failed,           // no such device, or the system refused to open it
  NoReportLengths,  // HID: the device does not say how long its reports are
};

// One module command: its request out and its response in.
enum class CommandStatus : uint8_t {
  Done,
  NoDevice,       // no module is open
  SendFailed,     // the request did not go out
  ReceiveFailed,  // no well-formed response came back
  Refused,        // the module answered with a failure status
};

// Reaching the module for an operation: discovery, opening and, on HID, the connect
// handshake.
enum class ConnectStatus : uint8_t {
  Connected,
  BadIndex,    // device index outside 0..15
  NoModule,    // discovery found none
  OpenFailed,  // the module was found but did not open
  Refused,     // HID: the module refused the connect handshake
};

// How a capture ended, on either transport and in the capture-and-extract loop.
enum class CaptureStatus : uint8_t {
  Done,
  NoModule,           // no module found, or it failed to open
  Cancelled,          // through zzCancelCapture (from any process)
  TimedOut,
  StorageReadFailed,  // mass storage: the image read-out failed
  HidReadFailed,      // HID: the image read-out failed
  NoTemplate,         // extraction gave no usable template
  BadIndex,           // device index outside 0..15
  Busy,               // a capture already runs on this index and transport
};

// Whether a finger lies on the sensor.
enum class FingerState : uint8_t { Present, Absent, OpenFailed };

// A cancel request.
enum class CancelStatus : uint8_t { Cancelled, BadIndex, NotRunning };

// The outcome of comparing two templates at a security level.
enum class MatchDecision : uint8_t { Match, NoMatch, InvalidTemplate };

}  // namespace fx60
