// Any bytes as a wide file's text: what the product tells the file to be
// written in, and the code units it decodes block by block, against the
// reference model's own decoding (tests/reference). Byte 0 chooses the
// block size (bits 0-5: 1..64 bytes, so that UTF-8 sequences are cut at
// every place; with bit 7, 64..3907 bytes, so that blocks are decoded in
// two halves side by side) and whether the bytes are read as they are or
// after a UTF-8 mark (bit 6); the rest is the file. Text after a mark is
// also decoded in the pieces the scanners cut around Field-N.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "reference_select.h"
#include "select/sjis_decoding.h"
#include "select/wide_coding.h"

namespace {

using fuzzing::finding;

// The product's units for the file: told from its head, then decoded in
// blocks of `block` bytes as the wide stream decodes them.
std::vector<std::uint16_t> productUnits(const std::string& file,
                                        std::size_t block) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(file.data());
  const std::size_t head = file.size() < wide_coding::kProbeBytes
                               ? file.size()
                               : wide_coding::kProbeBytes;
  wide_coding::Start start = wide_coding::detect(bytes, head);
  if (start.ascii_head) {
    const std::size_t high = wide_coding::firstHighByte(bytes, file.size());
    if (high != file.size()) {
      start.coding = wide_coding::utf8OrShiftJis(
          bytes + high, std::min(file.size() - high, wide_coding::kProbeBytes));
    }
  }
  const auto begin = static_cast<std::size_t>(start.mark_bytes);
  std::vector<std::uint16_t> units;
  if (start.coding == WideCoding::kShiftJis) {
    // Decoded in blocks as the wide stream decodes them, a cut lead byte
    // carried into the next.
    std::vector<std::uint8_t> held;
    std::vector<std::uint16_t> out(block + 2);
    for (std::size_t at = 0; at < file.size();) {
      const std::size_t want = std::min(block, file.size() - at);
      held.insert(held.end(), bytes + at, bytes + at + want);
      at += want;
      out.resize(held.size() + 1);
      std::size_t count = 0;
      const std::size_t used = wide_coding::decodeShiftJis(
          held.data(), held.size(), at == file.size(), out.data(), &count);
      if (at != file.size() &&
          wide_coding::wholeShiftJis(held.data(), held.size()) != used) {
        finding("wholeShiftJis stops elsewhere than the decoder");
      }
      units.insert(units.end(), out.begin(),
                   out.begin() + static_cast<long>(count));
      held.erase(held.begin(), held.begin() + static_cast<long>(used));
      if (held.size() > 1) finding("more than a lead byte carried");
    }
    return units;
  }
  if (start.coding != WideCoding::kUtf8) {
    for (std::size_t at = begin; at + 1 < file.size(); at += 2) {
      std::uint16_t unit =
          static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
      wide_coding::toHostOrder(start.coding, &unit, 1);
      units.push_back(unit);
    }
    return units;
  }
  std::vector<std::uint8_t> held;
  std::vector<std::uint16_t> out(block + 4);
  for (std::size_t at = begin; at < file.size();) {
    const std::size_t want = std::min(block, file.size() - at);
    held.insert(held.end(), bytes + at, bytes + at + want);
    at += want;
    wide_coding::UnitRuns runs;
    out.resize(held.size());
    const std::size_t used = wide_coding::decodeUtf8(
        held.data(), held.size(), at == file.size(), out.data(), &runs);
    if (at != file.size() &&
        wide_coding::wholeUtf8(held.data(), held.size()) != used) {
      finding("wholeUtf8 stops elsewhere than the decoder");
    }
    for (std::size_t k = 0; k < runs.count; ++k) {
      // Each run stays within the room of the bytes it was decoded from.
      if (runs.begin[k] + runs.units[k] > held.size() ||
          (k > 0 && runs.begin[k] < runs.begin[k - 1] + runs.units[k - 1])) {
        finding("a run of units out of its room");
      }
      const auto from = out.begin() + static_cast<long>(runs.begin[k]);
      units.insert(units.end(), from, from + static_cast<long>(runs.units[k]));
    }
    held.erase(held.begin(), held.begin() + static_cast<long>(used));
    if (held.size() > 3) finding("more than a sequence's head carried");
  }
  if (!held.empty()) finding("bytes left at the end");
  return units;
}

// The units of UTF-8 text as the scanners decode Field-N: in pieces that
// end after an ASCII byte, each piece whole or a character at a time.
std::vector<std::uint16_t> pieceUnits(const std::string& text) {
  // The pieces are read ahead of their end, as in the read block.
  std::vector<std::uint8_t> bytes(text.begin(), text.end());
  bytes.resize(text.size() + wide_coding::kPieceReadAhead);
  std::vector<std::uint16_t> units;
  std::vector<std::uint16_t> out(text.size() + 2);
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (bytes[i] >= 0x80 && i + 1 != text.size()) continue;
    const std::size_t end = i + 1;
    if ((end - start) % 2 == 1) {
      const std::size_t count = wide_coding::decodeUtf8Piece(
          bytes.data() + start, end - start, out.data());
      units.insert(units.end(), out.begin(),
                   out.begin() + static_cast<long>(count));
    } else {
      for (std::size_t at = start; at < end;) {
        std::size_t count = 0;
        at += wide_coding::decodeCharacter(bytes.data() + at, end - at,
                                           out.data(), &count);
        if (count == 0 || count > 2) finding("a character of no units");
        units.insert(units.end(), out.begin(),
                     out.begin() + static_cast<long>(count));
      }
    }
    start = end;
  }
  return units;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 1) return 0;
  const std::size_t block = (data[0] & 0x80) != 0
                                ? 64 + std::size_t{data[0] & 0x3Fu} * 61
                                : 1 + std::size_t{data[0] & 0x3Fu};
  std::string file = fuzzing::text(data + 1, size - 1);
  if ((data[0] & 0x40) != 0) file = "\xEF\xBB\xBF" + file;
  const std::vector<std::uint16_t> model = reference::decodeWide(file);
  if (productUnits(file, block) != model) {
    finding("the units differ from the model's, block " +
            std::to_string(block) + ": " + fuzzing::hex(file));
  }
  if ((data[0] & 0x40) != 0 && pieceUnits(file.substr(3)) != model) {
    finding("the pieces decode otherwise: " + fuzzing::hex(file));
  }
  return 0;
}
