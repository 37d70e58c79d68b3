#include "driver/transport.h"

namespace fx60 {

TransportSet defaultTransports();  // the device layer's transports (default_transports.cpp)

TransportSet& registeredTransports() {
  static TransportSet transports = defaultTransports();
  return transports;
}

CaptureTransport* SelectTransport() {
  const TransportSet& transports = registeredTransports();
  if (transports.storage != nullptr && transports.storage->discover()) return transports.storage;
  if (transports.hid != nullptr && transports.hid->discover()) return transports.hid;
  return nullptr;
}

}  // namespace fx60
