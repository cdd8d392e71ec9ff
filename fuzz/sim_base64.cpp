// The simulator's strict base64 decoder reads whatever a host sends as a
// packet line. Properties:
// - text it accepts is the one canonical encoding of what it decodes to, so
//   encoding the result gives the text back byte for byte;
// - refused text leaves no output, and the error is one of those listed;
// - the encoding of any bytes is accepted and decodes to those bytes.
#include <cstdint>
#include <string>
#include <vector>

#include "../tests/sim/host_encoding.h"
#include "fuzz_support.h"
#include "sim/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  std::vector<uint8_t> out = {0xEE};
  const sim::Base64Error error = sim::Base64Decode(text, size, &out);
  if (error == sim::Base64Error::kOk) {
    FUZZ_CHECK(size > 0 && size % 4 == 0);
    FUZZ_CHECK(HostBase64(out) == std::string(text, size));
    for (size_t i = 0; i < size; ++i) FUZZ_CHECK(sim::IsBase64Char(data[i]));
  } else {
    FUZZ_CHECK(out.empty());
    FUZZ_CHECK(std::string(sim::Base64ErrorText(error)) != "?");
    FUZZ_CHECK(std::string(sim::Base64ErrorText(error)) != "ok");
  }

  const std::vector<uint8_t> bytes(data, data + size);
  const std::string encoded = HostBase64(bytes);
  std::vector<uint8_t> back;
  const sim::Base64Error round = sim::Base64Decode(encoded.data(), encoded.size(), &back);
  FUZZ_CHECK(round == (size == 0 ? sim::Base64Error::kEmpty : sim::Base64Error::kOk));
  FUZZ_CHECK(back == bytes);
  return 0;
}
