// Feeds arbitrary bytes as an NTLM challenge, raw and as Base64 text, and
// uses a decoded challenge for an authenticate message.
#include "net/common/Base64.h"
#include "net/common/Ntlm.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {
void Check(bool ok) {
  if (!ok) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // An exact-size copy so that any read past the message is seen.
  std::string msg(reinterpret_cast<const char*>(data), size);
  TNTLM_Msg2_Info raw = NtlmDecodeMessage2(msg);
  if (raw.Valid) {
    Check(size >= 32);
    // Buffers may overlap, so each name is bounded by the message, not their sum.
    Check(raw.Target.size() <= size && raw.Server.size() <= size &&
          raw.Domain.size() <= size);
  }
  TNTLM_Msg2_Info viaText = NtlmMessage2(Base64Encode(msg));
  Check(viaText.Valid == (raw.Valid && size > 0));
  if (raw.Valid) {
    Check(viaText.Challenge == raw.Challenge && viaText.Target == raw.Target &&
          viaText.Server == raw.Server && viaText.Domain == raw.Domain);
    std::string user(raw.Target.begin(), raw.Target.end());
    std::string m3 = NtlmBuildMessage3("", "host", user, "pw", raw.Challenge);
    Check(m3.size() >= 64 + 48);
  }
  // The text itself as a challenge header value, as a server might send it.
  NtlmMessage2(msg.substr(0, 1000));
  return 0;
}
