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

}  // namespace pack
