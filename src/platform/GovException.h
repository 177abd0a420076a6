// The services layer's own exception: every failure of the platform layer (transport, TLS,
// certificate, file, XML, crypto) is reported with this class, outside the component's
// exception family. The component lets it pass unchanged or translates it where it says so.
#pragma once

#include <stdexcept>
#include <string>

namespace qor {

class EqorGovException : public std::runtime_error {
 public:
  explicit EqorGovException(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace qor
