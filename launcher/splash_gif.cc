#include "launcher/splash_gif.h"

#include <algorithm>
#include <cstring>

namespace tavrelo {
namespace {

constexpr std::int32_t kMaxSide = 4096;
constexpr unsigned kMaxCodes = 4096;  // LZW codes are at most 12 bits wide
constexpr std::uint8_t kExtension = 0x21;
constexpr std::uint8_t kImage = 0x2C;
constexpr std::uint8_t kTrailer = 0x3B;
constexpr std::uint8_t kGraphicControlLabel = 0xF9;

// Reads the GIF's bytes in order; every read past the end fails.
class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  bool Byte(std::uint8_t* value) {
    if (at_ >= bytes_.size()) return false;
    *value = bytes_[at_++];
    return true;
  }
  bool Word(std::int32_t* value) {
    std::uint8_t low = 0;
    std::uint8_t high = 0;
    if (!Byte(&low) || !Byte(&high)) return false;
    *value = low | high << 8;
    return true;
  }
  // The next `size` bytes, or an empty span when fewer are left.
  std::span<const std::uint8_t> Take(std::size_t size) {
    if (size > bytes_.size() - at_) return {};
    at_ += size;
    return bytes_.subspan(at_ - size, size);
  }
  // Passes over data sub-blocks up to and including their terminator;
  // `first`, where given, receives the first data byte (0 when there is none).
  bool SkipSubBlocks(std::uint8_t* first = nullptr) {
    if (first) *first = 0;
    for (bool at_start = true;; at_start = false) {
      std::uint8_t size = 0;
      if (!Byte(&size)) return false;
      if (size == 0) return true;
      const std::span<const std::uint8_t> block = Take(size);
      if (block.empty()) return false;
      if (first && at_start) *first = block[0];
    }
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t at_ = 0;
};

// The image's LZW codes, least significant bit first, across its data
// sub-blocks.
class CodeReader {
 public:
  explicit CodeReader(ByteReader& bytes) : bytes_(bytes) {}

  // The next code of `width` bits, or -1 when the sub-blocks (or the bytes)
  // end first.
  int Next(unsigned width) {
    while (count_ < width) {
      if (left_ == 0) {
        std::uint8_t size = 0;
        if (!bytes_.Byte(&size)) return -1;
        if (size == 0) {
          ended_ = true;
          return -1;
        }
        left_ = size;
      }
      std::uint8_t byte = 0;
      if (!bytes_.Byte(&byte)) return -1;
      --left_;
      bits_ |= std::uint32_t{byte} << count_;
      count_ += 8;
    }
    const int code = static_cast<int>(bits_ & ((1u << width) - 1));
    bits_ >>= width;
    count_ -= width;
    return code;
  }
  // After the end code: passes over what is left of the sub-blocks.
  bool Finish() {
    if (ended_) return true;
    if (left_ > 0 && bytes_.Take(left_).empty()) return false;
    return bytes_.SkipSubBlocks();
  }

 private:
  ByteReader& bytes_;
  std::uint32_t bits_ = 0;
  unsigned count_ = 0;
  std::size_t left_ = 0;  // bytes left in the current sub-block
  bool ended_ = false;
};

// Decodes the LZW data into `pixels`, which it must fill exactly, with every
// index below `colours`.
bool DecodeLzw(ByteReader& bytes, unsigned min_code_size, std::size_t colours, std::span<std::uint8_t> pixels) {
  // Each code's string: the code of the string before its last index, that
  // last index, its first index and its length. Every entry starts defined.
  std::uint16_t prefix[kMaxCodes] = {};
  std::uint8_t suffix[kMaxCodes] = {};
  std::uint8_t first[kMaxCodes] = {};
  std::uint16_t length[kMaxCodes] = {};
  const unsigned clear = 1u << min_code_size;
  const unsigned end = clear + 1;
  for (unsigned code = 0; code < clear; ++code) {
    suffix[code] = static_cast<std::uint8_t>(code);
    first[code] = static_cast<std::uint8_t>(code);
    length[code] = 1;
  }
  unsigned next = end + 1;
  unsigned width = min_code_size + 1;
  int previous = -1;  // none since the last clear code
  std::size_t done = 0;
  CodeReader codes(bytes);
  for (;;) {
    const int read = codes.Next(width);
    // Data that ends without an end code is whole if it gave every pixel.
    if (read < 0) return done == pixels.size();
    const auto code = static_cast<unsigned>(read);
    if (code == clear) {
      next = end + 1;
      width = min_code_size + 1;
      previous = -1;
      continue;
    }
    if (code == end) break;
    if (code < clear ? code >= colours : (code > next || (code == next && previous < 0))) return false;
    if (previous >= 0 && next < kMaxCodes) {
      // The previous string and the first index of this one; for the code
      // being defined, that is the previous string's first index, set first.
      const auto before = static_cast<unsigned>(previous);
      prefix[next] = static_cast<std::uint16_t>(before);
      first[next] = first[before];
      suffix[next] = first[code];
      length[next] = static_cast<std::uint16_t>(length[before] + 1);
      // Codes widen as the table fills, up to 12 bits; a full table
      // takes no more codes until the next clear code.
      if (++next == 1u << width && width < 12) ++width;
    }
    if (length[code] > pixels.size() - done) return false;
    done += length[code];
    std::size_t at = done;
    for (unsigned c = code;; c = prefix[c]) {
      pixels[--at] = suffix[c];
      if (c < clear) break;
    }
    previous = static_cast<int>(code);
  }
  return done == pixels.size() && codes.Finish();
}

void PutU32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

SplashDib DecodeSplashGif(std::span<const std::uint8_t> gif) {
  ByteReader bytes(gif);
  const std::span<const std::uint8_t> signature = bytes.Take(6);
  const auto is = [&signature](const char* text) { return std::equal(signature.begin(), signature.end(), text); };
  if (signature.empty() || (!is("GIF87a") && !is("GIF89a"))) return {};
  SplashDib dib;
  std::uint8_t flags = 0;
  std::uint8_t ignored = 0;
  if (!bytes.Word(&dib.width) || !bytes.Word(&dib.height) || !bytes.Byte(&flags) || !bytes.Byte(&ignored) ||
      !bytes.Byte(&ignored) || dib.width == 0 || dib.width > kMaxSide || dib.height == 0 ||
      dib.height > kMaxSide) {
    return {};
  }
  // A colour table's flag is its top bit, its size 2 to the power of one
  // more than its low three bits, 3 bytes (red, green, blue) a colour.
  std::size_t colours = (flags & 0x80) ? std::size_t{2} << (flags & 7) : 0;
  std::span<const std::uint8_t> palette = bytes.Take(3 * colours);
  const std::size_t stride = (static_cast<std::size_t>(dib.width) + 3) & ~std::size_t{3};
  for (;;) {
    std::uint8_t block = 0;
    if (!bytes.Byte(&block)) return {};
    if (block == kTrailer) break;
    if (block == kExtension) {
      std::uint8_t label = 0;
      if (!bytes.Byte(&label)) return {};
      // A graphic control block's first byte is a packed field whose lowest
      // bit asks for a transparent colour.
      std::uint8_t packed = 0;
      if (!bytes.SkipSubBlocks(&packed) || (label == kGraphicControlLabel && (packed & 1))) return {};
      continue;
    }
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint8_t min_code_size = 0;
    // One image alone, covering the screen from its corner, not interlaced.
    if (block != kImage || !dib.packed.empty()) return {};
    if (!bytes.Word(&left) || !bytes.Word(&top) || !bytes.Word(&width) || !bytes.Word(&height) ||
        !bytes.Byte(&flags) || left != 0 || top != 0 || width != dib.width || height != dib.height ||
        (flags & 0x40)) {
      return {};
    }
    if (flags & 0x80) {
      colours = std::size_t{2} << (flags & 7);
      palette = bytes.Take(3 * colours);
    }
    // A palette cut short is as good as none.
    if (palette.empty() || !bytes.Byte(&min_code_size) || min_code_size < 2 || min_code_size > 8) return {};

    dib.packed.assign(kSplashDibBitsOffset + stride * static_cast<std::size_t>(dib.height), 0);
    std::uint8_t* header = dib.packed.data();
    PutU32(header, 40);
    PutU32(header + 4, static_cast<std::uint32_t>(dib.width));
    PutU32(header + 8, static_cast<std::uint32_t>(-dib.height));  // top-down: first row first
    PutU32(header + 12, 1 | 8 << 16);                             // 1 plane, 8 bits a pixel
    PutU32(header + 32, 256);                                     // colours in the palette
    for (std::size_t i = 0; i < colours; ++i) {
      header[40 + 4 * i] = palette[3 * i + 2];
      header[40 + 4 * i + 1] = palette[3 * i + 1];
      header[40 + 4 * i + 2] = palette[3 * i];
    }
    // The rows are decoded one after another, then moved apart to their
    // padded places, the last first.
    std::uint8_t* bits = header + kSplashDibBitsOffset;
    const auto row = static_cast<std::size_t>(dib.width);
    if (!DecodeLzw(bytes, min_code_size, colours, std::span(bits, row * static_cast<std::size_t>(dib.height)))) {
      return {};
    }
    for (auto y = static_cast<std::size_t>(dib.height); y-- > 1;) std::memmove(bits + y * stride, bits + y * row, row);
  }
  return dib;  // without an image, no picture
}

}  // namespace tavrelo
