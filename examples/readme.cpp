// The README's C++ example: the C example's document, fed in the same three
// chunks, with tokens pulled by a range-for loop.
#include <sorvel.hpp>

#include <iostream>
#include <string_view>

int main() {
  const std::string_view chunks[] = {"<greeting>Hello, ", "w&amp;rld!</greet",
                                     "ing>"};
  sorvel::tokenizer<64> tz; // the context and a 64-byte text buffer, inline

  for (std::string_view chunk : chunks) {
    for (const sorvel::token &t : tz.feed(chunk)) {
      switch (t.kind) {
      case sorvel::kind::start:
        std::cout << "start " << t.name << '\n';
        break;
      case sorvel::kind::text:
        std::cout << "text  " << t.name << ": " << t.text << '\n';
        break;
      case sorvel::kind::end:
        std::cout << "end   " << t.name << '\n';
        break;
      }
    }
    if (tz.failed()) {
      std::cerr << "malformed input at byte " << chunk.size() - tz.unread() - 1
                << " of the chunk\n";
      return 1;
    }
  }
  return tz.depth() == 0 ? 0 : 1; // 0 open elements: the document is complete
}
