#include "tools/pack/lzma_encode.h"

#include <lzma.h>

#include "codec/lzma.h"

namespace pack {

size_t LzmaCompress(const uint8_t* data, size_t size, int level, uint8_t* out, size_t room) {
  if (room <= LzmaHeaderSize) return 0;
  lzma_options_lzma options;
  if (lzma_lzma_preset(&options, (uint32_t)(level * 9 + 11) / 12)) return 0;
  // No larger than the entry: the window the stub allocates is the smaller
  // of the two anyway, and the encoder's memory follows the dictionary.
  uint32_t dictionary = size < LZMA_DICT_SIZE_MIN ? LZMA_DICT_SIZE_MIN
                        : size < MaxLzmaDictionary ? (uint32_t)size
                                                   : MaxLzmaDictionary;
  if (options.dict_size > dictionary) options.dict_size = dictionary;
  lzma_filter filters[] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  // Version 5.4 of the encoder, then the properties' size and the properties.
  out[0] = LZMA_VERSION_MAJOR;
  out[1] = LZMA_VERSION_MINOR;
  out[2] = 5;
  out[3] = 0;
  if (lzma_properties_encode(&filters[0], out + 4) != LZMA_OK) return 0;
  size_t length = LzmaHeaderSize;
  if (lzma_raw_buffer_encode(filters, nullptr, data, size, out, &length, room) != LZMA_OK) return 0;
  return length < room ? length : 0;
}

namespace {

// The filter of a solid block: the level's preset with the smallest dictionary
// a property byte can name that holds the whole block.
lzma_options_lzma SolidOptions(int level, uint64_t blockBytes) {
  lzma_options_lzma options;
  lzma_lzma_preset(&options, (uint32_t)(level * 9 + 11) / 12);
  for (uint32_t code = 0; code < 40; code++) {
    uint64_t size = (uint64_t)(2 | (code & 1)) << (code / 2 + 11);
    if (size >= blockBytes || size >= options.dict_size) {
      if (size < options.dict_size) options.dict_size = (uint32_t)size;
      break;
    }
  }
  return options;
}

}  // namespace

uint64_t SolidEncoderMemory(int level, uint64_t blockBytes) {
  lzma_options_lzma options = SolidOptions(level, blockBytes);
  lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  return lzma_raw_encoder_memusage(filters);
}

bool SolidEncoder::Start(int level, uint64_t blockBytes, std::string& error) {
  lzma_options_lzma options = SolidOptions(level, blockBytes);
  lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_ret ret = lzma_properties_encode(&filters[0], &property_);
  if (ret == LZMA_OK) ret = lzma_raw_encoder(&stream_, filters);
  if (ret == LZMA_MEM_ERROR) error = "out of memory for the LZMA2 encoder";
  else if (ret != LZMA_OK) error = "the LZMA2 encoder refused its settings";
  return ret == LZMA_OK;
}

bool SolidEncoder::Entry(const uint8_t* data, size_t size, std::string& out, std::string& error) {
  stream_.next_in = data;
  stream_.avail_in = size;
  lzma_ret ret;
  do {
    size_t before = out.size();
    out.resize(before + (1 << 16) + size / 4);
    stream_.next_out = reinterpret_cast<uint8_t*>(&out[before]);
    stream_.avail_out = out.size() - before;
    ret = lzma_code(&stream_, LZMA_SYNC_FLUSH);
    out.resize(out.size() - stream_.avail_out);
  } while (ret == LZMA_OK);
  if (ret == LZMA_STREAM_END) return true;
  error = ret == LZMA_MEM_ERROR ? "out of memory for the LZMA2 encoder" : "the LZMA2 encoder failed";
  return false;
}

}  // namespace pack
