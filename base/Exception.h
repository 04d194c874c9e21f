#pragma once
// The root of every exception raised inside the toolkit and the protocol stacks.
#include <stdexcept>
#include <string>

namespace vela {

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};

}  // namespace vela
