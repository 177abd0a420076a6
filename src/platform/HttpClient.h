// HTTPS client of the platform layer: one libcurl easy handle whose live connection is reused by
// consecutive requests while the connection settings stay the same.
//
// Internal to src/platform/. Not thread-safe: one client per TqorGovX, used by one thread at a
// time (libcurl's rule for an easy handle).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/Certificate.h"

namespace qor {

// libcurl's process-wide initialisation, done once whichever client (HTTP, SMTP) comes first.
void EnsureCurl();

// What decides which connection may be reused. A change of any of these makes the next request
// open a new connection (and drop the old one).
struct THttpConnectionSettings {
  std::string proxy;  // "host:port"; empty means no proxy at all, not even one from the environment
  std::string proxyUser;
  std::string proxyPassword;
  bool verifyPeer = false;  // verify the server's chain and name
  std::string caBundle;     // PEM file of trusted CAs when verifying; empty = the system store
  std::shared_ptr<const TPkcs12Identity> clientIdentity;  // null: no client certificate

  bool operator==(const THttpConnectionSettings&) const = default;
};

constexpr int kDefaultConnectTimeoutMs = 10000;
constexpr int kDefaultTimeoutMs = 60000;

struct THttpPost {
  std::string url;
  std::string body;
  std::vector<std::string> headers;  // "Name: value" lines
  // Whole exchange, connection included. 0 is bounded all the same: kDefaultConnectTimeoutMs to
  // connect and kDefaultTimeoutMs for the whole exchange.
  int timeoutMs = 0;
  // Texts that must never show in a message (passwords): blotted out of any server text or
  // library detail quoted in an exception.
  std::vector<std::string> secrets;
};

class THttpClient {
 public:
  THttpClient();
  THttpClient(const THttpClient&) = delete;
  THttpClient& operator=(const THttpClient&) = delete;
  ~THttpClient();

  // Sends `post` as an HTTP POST and returns the response body of a 200 reply.
  // Throws EqorGovException "Falha na comunicação com <url>: <cause>" for every other outcome:
  // no connection, time-out, TLS failure, a reply cut short; a status other than 200 throws
  // EqorGovReplyException with the whole body, and the message gives the status and the SOAP
  // fault's reason (or, when the body is no SOAP fault, its first 200 characters). The URL in the
  // message carries no user or password.
  std::string Post(const THttpConnectionSettings& settings, const THttpPost& post);
  // Fetches `url` with a plain HTTP GET (`post.body` is not used) and returns the body of a 200
  // reply, whatever its type (binary bodies included); fails as Post does. A reply cut short
  // (fewer bytes than its Content-Length) is a failure, never a shorter body.
  std::string Get(const THttpConnectionSettings& settings, const THttpPost& request);

  // `text` percent-encoded for a URL query (UTF-8 bytes kept as they are, escaped).
  static std::string Escape(const std::string& text);

  // The address as it may appear in a message: any "user:password@" part removed.
  static std::string UrlForMessage(const std::string& url);

 private:
  std::string Perform(const THttpConnectionSettings& settings, const THttpPost& request, bool get);
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qor
