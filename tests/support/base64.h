// The test side's base64 decoder, for reading the packet lines tarnwick
// writes. It shares no code with tarnwick's encoder or the simulator's decoder,
// on purpose: a fault shared with either would pass the tests unseen.
#pragma once
#include <string>

// Standard base64 decoding of `text` (padding allowed); what is not base64 is skipped.
std::string Base64Decode(const std::string& text);
