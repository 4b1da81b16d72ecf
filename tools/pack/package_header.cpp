#include "tools/pack/package_header.h"

namespace pack {

std::string HeaderProblem(const HeaderSettings& s) {
  const std::pair<const char*, const std::string*> texts[] = {
      {"message", &s.message}, {"folder", &s.folder}, {"command", &s.command}};
  for (const auto& text : texts)
    if (text.second->size() > 255)
      return std::string("the ") + text.first + " is " + std::to_string(text.second->size()) +
             " bytes long in the code page; at most 255 fit";
  size_t together = s.message.size() + s.folder.size() + s.command.size();
  if (together > MaxTextsTogether)
    return "message, folder and command take " + std::to_string(together) +
           " bytes together in the code page; the header holds at most " +
           std::to_string(MaxTextsTogether);
  return "";
}

std::string BuildHeader(const HeaderSettings& s) {
  std::string header = HeaderMagic;
  header += (char)s.flags;
  header += (char)s.message.size();
  header += (char)s.folder.size();
  header += (char)s.command.size();
  header += s.message + s.folder + s.command;
  header.resize(HeaderSize, '.');
  return header;
}

bool ParseHeader(const std::string& header, HeaderSettings& s) {
  if (header.size() < HeaderFixedSize || header.compare(0, HeaderMagicSize, HeaderMagic) != 0) return false;
  s.flags = (uint8_t)header[HeaderMagicSize];
  const char* lengthBytes = &header[HeaderMagicSize + 1];
  size_t lengths[3] = {(uint8_t)lengthBytes[0], (uint8_t)lengthBytes[1], (uint8_t)lengthBytes[2]};
  std::string* texts[3] = {&s.message, &s.folder, &s.command};
  size_t pos = HeaderFixedSize;
  for (int i = 0; i < 3; i++) {
    // The stub reads past offset 256 when the lengths say so; so does this.
    *texts[i] = pos < header.size() ? header.substr(pos, lengths[i]) : "";
    pos += lengths[i];
  }
  return true;
}

}  // namespace pack
