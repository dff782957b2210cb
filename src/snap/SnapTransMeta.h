#pragma once
// The transient metadata text of a snapshot: every serialised field of
// AmazonSnapTransMetaInfo as "key:value;", in the record's order, 26 pairs,
// numbers in decimal.
//
// The pairs are not escaped, so a value holding ";" or ":" (or a control
// character), or longer than kMaxValue, is refused rather than written: it
// would inject pairs the reader takes for the manager's own. The secret key
// is never written in clear: it is sealed (FwProtected, which needs neither
// separator) and opened again by the reader's caller when needed.
// Thread-safe: no state.
#include <string>

#include "records/AmazonSnapTransMeta.h"

namespace SnapTransMeta {
constexpr size_t kMaxValue = 1024;
constexpr size_t kMaxText = 64 * 1024;
constexpr int kPairCount = 26;

// False with the offending key in error, out empty.
bool Serialize(const AmazonSnapTransMetaInfo& meta, std::string& out, std::string& error);
// Reads a text Serialize wrote. Refuses (record untouched) a text without
// the closing ";", a pair without exactly one ":", an unknown or repeated
// key, a number that is not a 32-bit decimal, a value over kMaxValue and a
// text over kMaxText. targetSecretKey comes back sealed as written.
bool Parse(const std::string& text, AmazonSnapTransMetaInfo& meta, std::string& error);
// A KMS key ARN as "targetEncryptionKey" carries it: every ":" as "$", so
// that the ARN's own separators never read as the pair's; and back.
std::string KeyArnForMetadata(const std::string& keyArn);
std::string KeyArnFromMetadata(const std::string& value);
// The text as it may be logged: the secret key's value masked.
std::string ForLog(const std::string& text);
}  // namespace SnapTransMeta
