// Masks standard input to standard output with hush::Set, line by line.
#include <hushmask.hpp>
#include <iostream>
#include <string>

int main() {
  const hush::Set set({"hunter2", "s3cr3t-token"});   // adds and builds; at most 3 '*' a run
  std::cerr << set.mask("whole text: pw=hunter2\n");  // ... pw=***

  hush::SetStream stream(set);  // one per text; a set serves any number of them
  std::string out;              // reused: its capacity serves every write
  for (std::string line; std::getline(std::cin, line);) {
    out.clear();
    stream.write(line + '\n', out);
    std::cout << out;
  }
  std::cout << stream.finish();  // the held-back tail
}
