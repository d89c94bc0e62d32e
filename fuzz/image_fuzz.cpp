// Loads arbitrary bytes as an image, or builds a valid one from the input, and applies a
// sequence of operations chosen by the input. Besides memory errors it stops on any broken
// promise of the image: a length past 512, a refused change that changed something, or a change
// that turned an image that loaded as valid into one that no longer loads.

#include "ByteBlock.h"
#include "Eeimage.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

class TInput {
public:
  TInput(const uint8_t* data, size_t size) : FData(data), FSize(size) {}
  bool More() const { return FAt < FSize; }
  uint8_t Byte() { return FAt < FSize ? FData[FAt++] : 0; }
  uint16_t Word() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
  // Up to `count` bytes, fewer when the input ends.
  std::vector<uint8_t> Bytes(size_t count) {
    const size_t n = count < FSize - FAt ? count : FSize - FAt;
    std::vector<uint8_t> out(FData + FAt, FData + FAt + n);
    FAt += n;
    return out;
  }

private:
  const uint8_t* FData;
  size_t FSize;
  size_t FAt = 0;
};

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "broken promise: %s\n", what);
    std::abort();
  }
}

void Put16(std::vector<uint8_t>& bytes, size_t at, uint16_t value) {
  bytes[at] = static_cast<uint8_t>(value & 0xFF);
  bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

int Bits(uint8_t mask) {
  return __builtin_popcount(mask);
}

// A 0xD4 image that passes validation, shaped by the input: languages, kinds, descriptor lengths,
// gaps and the order of the descriptors; the serial number shared, other entries sometimes too.
std::vector<uint8_t> BuildValid(TInput& in) {
  const int languages = in.Byte() % 6;
  const uint8_t mask = languages == 0 ? 0 : static_cast<uint8_t>(in.Byte() | 1);
  const int rows = Bits(mask);
  const int serialRow = (mask & 4) != 0 ? Bits(mask & 3) : -1;
  std::vector<uint8_t> bytes(512, 0);
  bytes[0] = 0xD4;
  bytes[20] = static_cast<uint8_t>(languages);
  bytes[21] = mask;
  for (int j = 0; j < languages; ++j) {
    Put16(bytes, static_cast<size_t>(24 + 2 * j), in.Word());
  }
  size_t end = static_cast<size_t>(24 + 2 * languages * (rows + 1));
  const bool reversed = (in.Byte() & 1) != 0;
  std::vector<uint16_t> placed;
  std::vector<size_t> entries;
  for (int r = 0; r < rows; ++r) {
    for (int j = 0; j < languages; ++j) {
      entries.push_back(static_cast<size_t>(24 + 2 * languages + 2 * (r * languages + j)));
    }
  }
  if (reversed) {
    std::vector<size_t> backwards(entries.rbegin(), entries.rend());
    entries = backwards;
  }
  uint16_t serialAt = 0;
  for (size_t k = 0; k < entries.size(); ++k) {
    const size_t row =
        (entries[k] - 24 - 2 * static_cast<size_t>(languages)) / 2 / static_cast<size_t>(languages);
    const uint8_t shape = in.Byte();
    uint16_t at = 0;
    if (static_cast<int>(row) == serialRow && serialAt != 0) {
      at = serialAt;
    } else if ((shape & 0xE0) == 0xE0 && !placed.empty()) {
      at = placed[shape % placed.size()];
    } else {
      const size_t gap = (shape >> 5) & 3;
      const size_t length = 4 + (shape & 0x1F);
      if (end + gap + length > 512) {
        return {};
      }
      at = static_cast<uint16_t>(end + gap);
      bytes[at] = static_cast<uint8_t>(length);
      bytes[at + 1] = 3;
      bytes[at + 2] = static_cast<uint8_t>(in.Byte() | 1);
      end = at + length;
      placed.push_back(at);
    }
    if (static_cast<int>(row) == serialRow) {
      serialAt = at;
    }
    Put16(bytes, entries[k], at);
  }
  bytes.resize(end);
  return bytes;
}

std::vector<uint8_t> Snapshot(const TEEImage& image) {
  std::vector<uint8_t> bytes(TEEImage::kBufferSize + 4);
  for (uint32_t i = 0; i < TEEImage::kBufferSize; ++i) {
    bytes[i] = image.GetByte(static_cast<int32_t>(i));
  }
  const uint32_t length = image.GetLength();
  std::memcpy(bytes.data() + TEEImage::kBufferSize, &length, sizeof length);
  return bytes;
}

// Valid, or one of the two states the changes may leave: strings without languages, or
// languages without strings.
bool ReloadsSound(const TEEImage& image) {
  if ((image.GetLanguageCount() == 0) != (image.GetSupportedStrings() == 0)) {
    return true;
  }
  std::vector<uint8_t> bytes(image.GetLength() + 1);
  image.CopyTo(bytes.data(), image.GetLength());
  return TEEImage(bytes.data(), static_cast<int32_t>(image.GetLength())).IsValid();
}

uint16_t PickLangid(const TEEImage& image, TInput& in) {
  const uint8_t choice = in.Byte();
  const uint8_t languages = image.GetLanguageCount();
  if (languages == 0 || choice >= 0xC0) {
    return in.Word();
  }
  std::vector<uint16_t> langids(languages);
  if (!image.GetLanguages(langids.data(), languages)) {
    return 0;
  }
  return langids[choice % languages];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TByteBlock::FailAllocation(-1);
  TInput in(data, size);
  std::unique_ptr<TEEImage> image;
  if ((in.Byte() & 1) != 0) {
    const std::vector<uint8_t> bytes = BuildValid(in);
    if (bytes.empty()) {
      return 0;
    }
    image = std::make_unique<TEEImage>(bytes.data(), static_cast<int32_t>(bytes.size()));
    Require(image->IsValid(), "built image loads as valid");
  } else {
    const int32_t count = static_cast<int16_t>(in.Word());
    const std::vector<uint8_t> bytes = in.Bytes(count > 0 ? static_cast<size_t>(count) : 0);
    // The count may claim more than there is; the image must read only what it was given.
    image = std::make_unique<TEEImage>(
        bytes.empty() ? nullptr : bytes.data(),
        count > static_cast<int32_t>(bytes.size()) ? static_cast<int32_t>(bytes.size()) : count);
  }
  // Whether every change so far went through the string operations of an image that loaded
  // as valid; byte writes and raw shifts may break the layout on purpose.
  bool trusted = image->IsValid();

  for (int steps = 0; in.More() && steps < 64; ++steps) {
    const std::vector<uint8_t> before = Snapshot(*image);
    const uint8_t operation = in.Byte() % 12;
    bool changing = true;
    bool result = true;
    switch (operation) {
    case 0: {
      const int32_t offset = static_cast<int16_t>(in.Word());
      image->SetByte(offset, in.Byte());
      trusted = false;
      changing = false;
      break;
    }
    case 1:
      (void)image->GetByte(static_cast<int16_t>(in.Word()));
      changing = false;
      break;
    case 2: {
      const uint32_t position = in.Word();
      const int32_t delta = static_cast<int16_t>(in.Word());
      result = image->ShiftTail(position, delta);
      trusted = trusted && !result;
      break;
    }
    case 3: {
      const uint16_t langid = PickLangid(*image, in);
      const uint8_t kind = static_cast<uint8_t>(1u << (in.Byte() % 9)); // now and then 0
      std::vector<uint8_t> descriptor(256, 0);
      descriptor[0] = in.Byte();
      descriptor[1] = (in.Byte() & 0x0F) == 0 ? 2 : 3;
      for (size_t i = 2; i < descriptor[0]; ++i) {
        descriptor[i] = in.Byte();
      }
      result = image->SetStringDescriptor(langid, kind, descriptor.data());
      break;
    }
    case 4:
      result = image->SetSupportedStrings(in.Byte());
      break;
    case 5: {
      const uint8_t count = in.Byte() % 12;
      std::vector<uint16_t> list;
      for (uint8_t i = 0; i < count; ++i) {
        list.push_back(PickLangid(*image, in));
      }
      result = image->SetLanguages(list.empty() ? nullptr : list.data(), count);
      break;
    }
    case 6: {
      std::vector<uint8_t> buffer(256, 0);
      buffer[0] = in.Byte();
      (void)image->GetStringLength(PickLangid(*image, in), in.Byte());
      (void)image->GetStringDescriptor(PickLangid(*image, in), in.Byte(), buffer.data());
      changing = false;
      break;
    }
    case 7: {
      const uint8_t room = in.Byte();
      std::vector<uint16_t> langids(room);
      (void)image->GetLanguages(langids.data(), room);
      changing = false;
      break;
    }
    case 8: {
      std::vector<uint8_t> out(TEEImage::kBufferSize);
      Require(image->CopyTo(out.data(), in.Word()), "copy to a destination succeeds");
      changing = false;
      break;
    }
    case 9: {
      std::vector<uint8_t> bytes(TEEImage::kBufferSize);
      image->CopyTo(bytes.data(), image->GetLength());
      image = std::make_unique<TEEImage>(bytes.data(), static_cast<int32_t>(image->GetLength()));
      trusted = image->IsValid();
      TByteBlock::FailAllocation(-1);
      continue;
    }
    case 10: // one of the next operation's allocations fails
      TByteBlock::FailAllocation(in.Byte() % 4);
      continue;
    default:
      (void)image->IsValid();
      (void)image->GetLength();
      changing = false;
      break;
    }
    TByteBlock::FailAllocation(-1); // the checks below allocate too
    Require(image->GetLength() <= TEEImage::kBufferSize, "length stays within 512");
    if (changing && !result) {
      Require(Snapshot(*image) == before, "a refused change changes nothing");
    }
    if (changing && result && trusted) {
      Require(ReloadsSound(*image), "a change keeps a valid image loadable");
    }
  }
  TByteBlock::FailAllocation(-1);
  return 0;
}
