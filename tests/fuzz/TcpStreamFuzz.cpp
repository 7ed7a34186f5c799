// A Modbus TCP byte stream, cut into receives at points the input chooses, through the
// connection's ADU cutting (MbapStream) and the request path. The ADUs must not depend on
// where the stream was cut, unless a receive held a header no ADU can have (which drops
// the rest of that receive); every reply is checked against its request.
//
// Input: one byte n (cuts, n mod 8), n 16-bit cut positions, then the stream.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "fuzz/FuzzServer.h"

using namespace velkor;

namespace {

using Adus = std::vector<std::vector<uint8_t>>;

// Feeds the stream in the given pieces, each its own allocation, so that a read past a
// receive is caught; returns the ADUs and whether nothing was dropped.
bool Cut(const std::vector<uint8_t>& stream, const std::vector<size_t>& cuts, Adus& adus,
         fuzz::CheckingConnection* serve) {
  MbapStream cutter;
  bool whole = true;
  size_t from = 0;
  for (size_t k = 0; k <= cuts.size(); ++k) {
    const size_t to = k < cuts.size() ? cuts[k] : stream.size();
    const std::vector<uint8_t> receive(stream.begin() + ptrdiff_t(from),
                                       stream.begin() + ptrdiff_t(to));
    whole &= cutter.Feed(receive, [&](std::span<const uint8_t> adu) {
      adus.emplace_back(adu.begin(), adu.end());
      if (serve) {
        serve->Serving(adu);
        ProcessRequest(*serve, adu);
      }
      return true;
    });
    from = to;
  }
  return whole;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const size_t cutCount = input.ConsumeIntegral<uint8_t>() % 8;
  std::vector<size_t> cuts;
  for (size_t k = 0; k < cutCount; ++k) cuts.push_back(input.ConsumeIntegral<uint16_t>());
  const std::vector<uint8_t> stream = input.ConsumeRemainingBytes<uint8_t>();
  for (size_t& cut : cuts) cut = stream.empty() ? 0 : cut % (stream.size() + 1);
  std::sort(cuts.begin(), cuts.end());

  Adus inOne, inPieces;
  const bool whole = Cut(stream, {}, inOne, nullptr);
  fuzz::CheckingConnection connection(kMbapFraming);
  Cut(stream, cuts, inPieces, &connection);
  if (whole) fuzz::Check(inOne == inPieces, "the ADUs depend on where the stream was cut");
  // Whole ADUs only: a complete one is served whatever it announces (a longer one than
  // kMaxTcpAdu is only refused while it is incomplete, as it can then never complete).
  for (const auto& adu : inPieces)
    fuzz::Check(adu.size() >= 6 && size_t(adu[4] << 8 | adu[5]) + 6 == adu.size(),
                "an ADU cut off its length field");
  return 0;
}
