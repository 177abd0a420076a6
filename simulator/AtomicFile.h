// Whole-file writes for the simulator's own files (certificates, keys, server-address files).
//
// The content goes to a temporary file in the same folder, is flushed to disk and renamed over
// the target, so a reader (the component, curl, a second simulator) never sees half a file.
// The simulator keeps this helper instead of the platform's because private keys must be born
// with mode 0600, never widened for an instant.
#pragma once

#include <sys/types.h>
#include <string>

namespace qor::sim {

// Throws std::runtime_error naming the path and the system's reason.
void WriteFileAtomically(const std::string& path, const std::string& content, mode_t mode = 0644);

// Whole file as bytes; throws std::runtime_error when it cannot be read.
std::string ReadWholeFile(const std::string& path);

}  // namespace qor::sim
