// A server's byte stream into the OPC UA client's decoding: UA TCP framing (cut into receives
// at a stride the input chooses), then every service response decoder on each message's
// body, and on the raw input too so the decoders are reached without valid framing. Nothing
// may crash, read past its input or buffer beyond the limits; a Variant that decodes must
// encode to bytes that decode to the same encoding.
//
// Input: one byte (the receive stride, 1 + n), then the stream.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "opc/UaServices.h"
#include "opc/UaTransport.h"

using namespace velkor::opc;

namespace {

const TransportLimits kLimits{8192, 8192, 1 << 16, 16};

void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "opc_message_fuzz: %s\n", what);
  std::abort();
}

template <class Decode>
void Try(std::span<const uint8_t> body, Decode decode) {
  UaReader r(body);
  try {
    decode(r);
  } catch (const OpcError&) {
  }
}

std::vector<uint8_t> Encode(const UaVariant& v) {
  UaWriter w;
  w.Variant(v);
  return w.Take();
}

void DecodeAll(std::span<const uint8_t> body) {
  Try(body, DecodeOpenSecureChannel);
  Try(body, DecodeGetEndpoints);
  Try(body, DecodeCreateSession);
  Try(body, DecodeActivateSession);
  Try(body, DecodeCloseSession);
  Try(body, [](UaReader& r) { DecodeBrowse(r, false); });
  Try(body, DecodeRead);
  Try(body, DecodeWrite);
  Try(body, DecodeCreateSubscription);
  Try(body, DecodeCreateMonitoredItems);
  Try(body, DecodePublish);
  Try(body, DecodeDeleteSubscriptions);
  Try(body, [](UaReader& r) { r.DataValue(); });
  Try(body, [](UaReader& r) {
    const UaVariant v = r.Variant();
    std::vector<uint8_t> once;
    try {
      once = Encode(v);
    } catch (const OpcError&) {
      return;  // kinds kept but not written back (DataValue, DiagnosticInfo in a Variant)
    }
    UaReader again(once);
    Check(Encode(again.Variant()) == once, "a Variant does not survive a round trip");
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const size_t stride = 1 + input.ConsumeIntegral<uint8_t>();
  const std::vector<uint8_t> stream = input.ConsumeRemainingBytes<uint8_t>();
  MessageAssembler assembler(kLimits);
  try {
    for (size_t at = 0; at < stream.size(); at += stride) {
      assembler.Feed(std::span(stream).subspan(at, std::min(stride, stream.size() - at)),
                     [](ServerMessage&& m) { DecodeAll(m.body); });
      Check(assembler.Buffered() <= kLimits.maxMessageSize + kLimits.receiveBufferSize,
            "the assembler buffers beyond its limits");
    }
  } catch (const OpcError&) {
  }
  DecodeAll(stream);
  return 0;
}
