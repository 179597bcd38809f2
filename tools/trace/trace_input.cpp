#include "tools/trace/trace_input.h"

#include <vector>

#include "tools/common/tool_platform.h"

namespace tolvan {
namespace tools {

namespace {

size_t const kReadSize = 1 << 20;

}  // namespace

void LineReader::Deliver(std::string_view text, LineEnding ending) {
  ++lines_;
  if (ending == kWholeLine && !text.empty() && text.back() == '\r') text.remove_suffix(1);
  sink_(lines_, text, ending);
}

void LineReader::ReadPiece(std::string_view piece) {
  bytes_ += piece.size();
  while (!piece.empty()) {
    size_t const newline = piece.find('\n');
    if (newline == std::string_view::npos) {
      carry_.append(piece);
      return;
    }
    if (carry_.empty()) {
      Deliver(piece.substr(0, newline), kWholeLine);
    } else {
      carry_.append(piece.substr(0, newline));
      Deliver(carry_, kWholeLine);
      carry_.clear();
    }
    piece.remove_prefix(newline + 1);
  }
}

void LineReader::ReadEnd() {
  if (!carry_.empty()) Deliver(carry_, kCutLine);
  carry_.clear();
}

bool LineReader::ReadAll(int handle) {
  std::vector<char> chunk(kReadSize);
  while (true) {
    long const count = ReadInput(handle, chunk.data(), chunk.size());
    if (count < 0) return false;
    if (count == 0) break;
    ReadPiece(std::string_view(chunk.data(), static_cast<size_t>(count)));
  }
  ReadEnd();
  return true;
}

void LineReader::ReadText(std::string_view text) {
  ReadPiece(text);
  ReadEnd();
}

}  // namespace tools
}  // namespace tolvan
