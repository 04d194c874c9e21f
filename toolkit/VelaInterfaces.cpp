#include "toolkit/VelaInterfaces.h"

#include "toolkit/VelaExceptions.h"

namespace vela {

TVelaComponent& TVelaIntfComponent::GetHandler() const {
    if (!owner_) throw EOPCException("Owner has nil value");
    return *owner_;
}

}  // namespace vela
