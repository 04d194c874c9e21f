#pragma once
// The toolkit's exception classes; each carries only its message text.
#include "base/Exception.h"

namespace vela {

class EOPCException : public Exception {
public:
    using Exception::Exception;
};
class EOPCBrowserException : public EOPCException {
public:
    using EOPCException::EOPCException;
};
class EOPCGroupException : public EOPCException {
public:
    using EOPCException::EOPCException;
};
class EOPCServerException : public EOPCException {
public:
    using EOPCException::EOPCException;
};
class EOPCServerListException : public EOPCServerException {
public:
    using EOPCServerException::EOPCServerException;
};
class EOPCItemException : public EOPCException {
public:
    using EOPCException::EOPCException;
};

}  // namespace vela
