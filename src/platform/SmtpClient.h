// SMTP client of the platform layer: one message per call on libcurl's SMTP with its MIME API.
//
// Internal to src/platform/ (TqorGovX::SendEmail is the way in).
#pragma once

#include <string>
#include <vector>

namespace qor {

struct TEmailSettings;

// Where a message goes and how the connection is made, worked out from the settings.
struct TSmtpEndpoint {
  std::string host;
  int port = 25;
  bool implicitTls = false;  // TLS from the first byte (smtps), else STARTTLS

  // "HOST:PORT" as it appears in messages.
  std::string ForMessage() const;
};

// Server "HOST", "HOST:PORT", "smtp://HOST[:PORT]" or "smtps://HOST[:PORT]"; a port in Server
// wins over Port; Port 0 means 25 (465 for smtps://); port 465 means implicit TLS.
TSmtpEndpoint ResolveSmtpEndpoint(const std::string& server, int port);

// Addresses of a list separated by ";" or ",", trimmed, empties dropped.
std::vector<std::string> SplitAddresses(const std::string& list);

// A header value as RFC 2047 encoded-words (UTF-8, Base64) when it holds any non-ASCII byte,
// folded so no word passes 75 characters; ASCII text is returned unchanged.
std::string EncodeHeaderWord(const std::string& text);

// Sends one message. Throws EqorGovException (see TqorGovX::SendEmail).
void SendSmtpMessage(const TEmailSettings& settings, const std::vector<std::string>& to,
                     const std::vector<std::string>& attachments);

}  // namespace qor
