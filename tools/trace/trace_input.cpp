#include "tools/trace/trace_input.h"

namespace tolvan {
namespace tools {

void LineReader::Deliver(std::string_view text, LineEnding ending) {
  ++lines_;
  if (ending == kWholeLine && !text.empty() && text.back() == '\r') text.remove_suffix(1);
  if (text.size() > kMaxLineBytes) {
    text = text.substr(0, kMaxLineBytes);
    ending = kLongLine;
  }
  sink_.Line(lines_, text.data(), text.size(), ending);
}

void LineReader::Carry(std::string_view part) {
  carried_ += part.size();
  if (carry_.size() < kMaxLineBytes) carry_.append(part.substr(0, kMaxLineBytes - carry_.size()));
}

void LineReader::ReadPiece(std::string_view piece) {
  bytes_ += piece.size();
  while (!piece.empty()) {
    size_t const newline = piece.find('\n');
    if (newline == std::string_view::npos) {
      Carry(piece);
      return;
    }
    if (carried_ == 0) {
      Deliver(piece.substr(0, newline), kWholeLine);
    } else {
      Carry(piece.substr(0, newline));
      Deliver(carry_, carried_ > kMaxLineBytes + 1 ? kLongLine : kWholeLine);
      carry_.clear();
      carried_ = 0;
    }
    piece.remove_prefix(newline + 1);
  }
}

void LineReader::ReadEnd() {
  if (carried_) Deliver(carry_, kCutLine);
  carry_.clear();
  carried_ = 0;
}

}  // namespace tools
}  // namespace tolvan
