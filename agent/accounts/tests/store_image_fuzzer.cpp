// Any bytes taken for an account file are either refused or give an image whose every area can be
// read and written without leaving the buffer.
#include <cstddef>
#include <cstdint>

#include "agent/accounts/store_format.h"

using namespace kelm::accounts;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto img = StoreImage::parse(Bytes(data, data + size));
  if (!img) return 0;
  for (std::uint32_t i = 0; i < img->count(); ++i) {
    ByteView r = img->record(i);
    readElement(r, 0);
  }
  decryptBlock(img->namesList(), ByteView(data, size < 16 ? size : 16));
  readElement(img->rightsKeyElement(), 0);
  img->find("admin");
  const std::uint8_t rec[] = {'2', 0};
  StoreImage copy = *img;
  if (copy.count() > 0) {
    copy.replaceRecord(0, rec);
    copy.removeAccount(0);
  }
  copy.appendAccount("x", rec);
  const std::uint8_t table[] = {'8', 0};
  copy.setRightsTable(table);
  copy.grow();
  if (!StoreImage::parse(copy.bytes())) __builtin_trap();
  return 0;
}
