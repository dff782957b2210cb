#pragma once
// The framework's protected string: a secret (a password, a secret key) as
// it may be written into a message, a metadata text or a file. The clear
// text is sealed with AES-256-GCM under the agent's key
// (<base>/Keys/protected.key, made on first use, owner-only), so processes
// of one agent can open what another sealed and nothing else can read it.
//
// Sealed form: "PS1$" followed by base64 of nonce, cipher text and tag. It
// holds no ":" and no ";", so it travels inside key/value texts unescaped.
// Thread-safe.
#include <string>

#include "framework/FrameworkApi.h"

namespace FwProtected {
FW_API extern const char kPrefix[];   // "PS1$"
// False (out empty) when the agent's key cannot be made or read.
FW_API bool Seal(const std::string& clear, std::string& out);
// False (out empty) for a text that is not a sealed form, is cut or altered,
// or was sealed under another agent's key.
FW_API bool Open(const std::string& sealed, std::string& out);
FW_API bool IsSealed(const std::string& text);
}  // namespace FwProtected
