// The services layer's own exception: every failure of the platform layer (transport, TLS,
// certificate, file, XML, crypto) is reported with this class, outside the component's
// exception family. The component lets it pass unchanged or translates it where it says so.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace qor {

class EqorGovException : public std::runtime_error {
 public:
  explicit EqorGovException(const std::string& message) : std::runtime_error(message) {}
};

// The request never left this machine: no connection was made (refused, unreachable, an address
// or URL that could not be used, the connection's time-out) or the secure connection was not
// established. Whatever the request carried, the server never read it.
class EqorGovSemConexaoException : public EqorGovException {
 public:
  using EqorGovException::EqorGovException;
};

// A reply came but cannot be used (an HTTP status other than 200, or a 200 whose body is not a
// SOAP envelope): the message says why, and the whole body is kept for the reply log.
class EqorGovReplyException : public EqorGovException {
 public:
  EqorGovReplyException(const std::string& message, long status, std::string body)
      : EqorGovException(message), status_(status), body_(std::move(body)) {}
  long Status() const { return status_; }
  const std::string& Body() const { return body_; }

 private:
  long status_;
  std::string body_;
};

}  // namespace qor
