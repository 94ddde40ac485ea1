#include "discovery/InterfaceInfo.h"

#include "platform/foundation/Format.h"

namespace ww {

std::string InterfaceInfo::toString() const {
    // The order is printed as unsigned, so a negative order shows as its
    // two's-complement value, the way the record has always rendered it.
    return format("%@,%@,%@,%@,%@,%@,%lu,%@", BSDName.get(), displayName.get(), MacAdress.get(),
                  IPAdress.get(), status.get(), type.get(),
                  static_cast<std::uint64_t>(serviceOrder), sysProfilerName.get());
}

}  // namespace ww
