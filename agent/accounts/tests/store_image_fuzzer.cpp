// Any bytes taken for an account file are either refused or give an image whose every area can be
// read and written without leaving the buffer.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "agent/accounts/account_store.h"
#include "agent/accounts/store_format.h"
#include "tests/fuzz/fuzz_seeds.h"

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

// Seeds: the files the store itself writes as accounts come and go.
void KelmFuzzSeeds(std::vector<std::string>& seeds) {
  std::string tmpl = (std::filesystem::temp_directory_path() / "kelm-seeds-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) std::abort();
  const std::filesystem::path dir(tmpl);
  AccountStore store(dir);
  auto snapshot = [&] {
    std::ifstream in(store.filePath(), std::ios::binary);
    seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  };
  if (store.InitUserStore("admin", "secret") != plat::S_OK) std::abort();
  snapshot();
  AccountHandle admin = 0;
  if (store.OpenAccount("admin", "secret", admin) != plat::S_OK) std::abort();
  store.CreateAccount(admin, "operator", "op-pass", kRightOwnAccount | 0x3C);
  store.CreateAccount(admin, "second admin", "x", kRightAdminister | kRightOwnAccount);
  snapshot();
  store.CreateAccount(admin, "viewer", "", 0);
  store.RenameAccount(admin, "operator", "night shift");
  store.ChangeRights(admin, "viewer", 0x7FFFFFFF);
  store.DeleteAccount(admin, "second admin");
  snapshot();
  store.CloseAccount(admin);
  std::filesystem::remove_all(dir);
}
