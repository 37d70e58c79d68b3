// The device transports this build registers at load. None yet: every device
// operation then behaves as with no module attached.
#include "driver/transport.h"

namespace fx60 {

TransportSet defaultTransports() { return TransportSet{}; }

}  // namespace fx60
