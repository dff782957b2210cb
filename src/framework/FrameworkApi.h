#pragma once
// Symbols of the host framework stay visible to the plug-in, which is built
// with hidden visibility.
#define FW_API __attribute__((visibility("default")))
