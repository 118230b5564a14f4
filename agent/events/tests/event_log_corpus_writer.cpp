// Writes seed files for the event log reader's fuzz target: files as the writer leaves them
// (empty, one record, several, long texts, a lone link, a torn tail), each with a cursor position
// in its last four bytes' reach.
#include <fstream>
#include <iostream>
#include <string>

#include "agent/events/event_log_file.h"

using namespace kelm::events;

namespace {

void write(const std::string& dir, const std::string& name, const std::string& bytes) {
  std::ofstream(dir + "/" + name, std::ios::binary) << bytes;
}

std::string withRecords(int n, std::size_t textSize = 12) {
  MemoryStorage s(encodeHeader(1000000000));
  for (int i = 0; i < n; ++i) {
    const EventRecord r{512 + i, 994730139 + i, 1 + i % 3, "Array " + std::to_string(i),
                        std::string(textSize, static_cast<char>('a' + i % 26))};
    if (!appendRecord(s, r).ok()) std::abort();
  }
  return s.bytes();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: event_log_corpus_writer DIR\n";
    return 2;
  }
  const std::string dir = argv[1];
  write(dir, "header-only", encodeHeader(1000000000));
  write(dir, "lone-link", encodeHeader(1000000000) + std::string(4, '\0'));
  write(dir, "one-record", withRecords(1));
  write(dir, "three-records", withRecords(3));
  write(dir, "long-texts", withRecords(2, 300));
  const std::string five = withRecords(5);
  write(dir, "five-records", five);
  write(dir, "torn-tail", five.substr(0, five.size() - 7));
  return 0;
}
